# Turns a manual page written in scdoc form into roff. With PKGTOOL (the
# program, after its emulator in a cross build), pkgtool's help takes the
# place of the page's line @COMMANDS@: every command's text and the overview's
# exit statuses, so that the page and the help cannot differ.
#   cmake -DSCDOC=scdoc -DSOURCE=page.scd -DOUTPUT=page.1 [-DPKGTOOL=...] -P manual_page.cmake
file(READ ${SOURCE} page)
function(help out)  # the text of pkgtool help ARGN
  execute_process(COMMAND ${PKGTOOL} help ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkgtool help ${ARGN} ended with ${status}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
if(PKGTOOL)
  help(overview)
  # The overview's usage lines name the commands, in its order.
  string(REGEX MATCHALL "\n  pkgtool [a-z]+" uses "${overview}")
  set(commands)
  foreach(use ${uses})
    string(REGEX REPLACE ".* " "" name "${use}")
    list(APPEND commands ${name})
  endforeach()
  list(REMOVE_DUPLICATES commands)
  set(generated "# COMMANDS\n")
  foreach(name ${commands})
    help(text ${name})
    string(APPEND generated "\n## ${name}\n\n```\n${text}```\n")
  endforeach()
  string(REGEX REPLACE ".*\nExit status[^\n]*\n" "" statuses "${overview}")
  string(APPEND generated "\n# EXIT STATUS\n\nThe same cause ends every command with the same status:\n\n```\n${statuses}```\n")
  string(REPLACE "@COMMANDS@\n" "${generated}" page "${page}")
endif()
file(WRITE ${OUTPUT}.scd "${page}")
execute_process(COMMAND ${SCDOC} INPUT_FILE ${OUTPUT}.scd OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "scdoc could not read ${OUTPUT}.scd")
endif()
