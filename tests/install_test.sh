#!/bin/bash
# pkgtool installed as a Debian tool: cmake --install into a scratch prefix and
# the .deb unpacked into a scratch root each give a pkgtool that runs, a manual
# page with every command of its help, and a bash completion that answers; the
# .deb holds no key file.   install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd) work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -x "$work/prefix/bin/installer" -a -f "$work/prefix/share/man/man8/installer.8"
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null)
dpkg-deb -x "$work"/deb/pkgtool_*.deb "$work/root"
if dpkg-deb -c "$work"/deb/pkgtool_*.deb | grep -E '\.(key|pub)$|/installer'; then exit 1; fi
for top in "$work/prefix" "$work/root/usr"; do
  "$top/bin/pkgtool" --version | grep -q '^pkgtool [0-9]'
  for command in $("$top/bin/pkgtool" help | sed -n 's/^  pkgtool \([a-z]*\).*/\1/p' | uniq); do
    grep -qx ".SS $command" "$top/share/man/man1/pkgtool.1" || { echo "pkgtool.1 lacks $command"; exit 1; }
  done
  words=$(bash -c 'source "$1/share/bash-completion/completions/pkgtool"
    COMP_WORDS=(pkgtool ver); COMP_CWORD=1; _pkgtool; echo "${COMPREPLY[*]}"
    COMP_WORDS=("$1/bin/pkgtool" plan --d); COMP_CWORD=2; _pkgtool; echo "${COMPREPLY[*]}"' - "$top")
  [ "$words" = $'verify version\n--down' ] || { echo "completion gave: $words"; exit 1; }
done
echo "installed and packaged pkgtool run, with manual page and completion"
