// Text forms of the scenario files: C escapes in contents and output lines,
// blank-separated words, and standard output as the console shows it.
#pragma once

#include <string>
#include <vector>

// Decodes \n \t \r \b \e \0 \\ \" \' \xNN (two hex digits). A "\c" that ends
// the text is accepted only where noNewline is given, which it then sets.
// False with *error (and the offset of the fault in *at) on a bad escape.
bool unescape(const std::string& text, std::string* out, std::string* error, size_t* at = nullptr,
              bool* noNewline = nullptr);

// Printable ASCII as it is (with `quote`, '"' as \"), \n \t \r \b \e \\,
// any other byte as \xNN; a trailing blank becomes \x20 so that no editor eats it.
std::string escape(const std::string& bytes, bool quote = false);

// The words of a line, split at blanks (spaces and tabs).
std::vector<std::string> splitWords(const std::string& text);

// What a terminal shows of the output, line by line: "\r" goes back to the
// start of the line and "\b" one column, later text overwrites earlier,
// escape sequences ("\x1b[?25l") show nothing, and blanks that end a line
// are not seen. Progress lines overwritten by messages so vanish.
std::string consoleView(const std::string& output);

// Output as scenario lines: each line escaped after `prefix`, a last line
// without its newline ending in "\c".
std::vector<std::string> outputLines(const std::string& prefix, const std::string& output);

// The lines of both sides, those of one side only marked "expected" or
// "actual" (around a longest common subsequence).
std::string lineDiff(const std::vector<std::string>& expected, const std::vector<std::string>& actual);
