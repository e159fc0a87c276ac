#!/bin/bash
# Runs the shell examples of the README's pkgtool section as written, in
# order, in a scratch copy of the layout they expect: build/ with the
# programs under test (through the emulator of a cross build), keys/, and a
# scripts/build with nothing left to do. Their scratch directories come from
# mktemp -d below the copy, which goes at the end.
#
#   readme_test.sh README.md PKGTOOL INSTALLER [EMULATOR WORD...]
set -euo pipefail

readme=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
pkgtool=$(readlink -f "$2") installer=$(readlink -f "$3")
emulator=("${@:4}")
source_dir=$(dirname "$readme")

# The examples install on a scratch root, which takes root or a user namespace.
if [ "$(id -u)" != 0 ]; then
  if unshare --map-root-user true 2>/dev/null; then
    exec unshare --map-root-user "$0" "$@"
  fi
  echo "skipped: installing on a scratch root needs root or a user namespace"
  exit 77
fi

# A sanitized installer chroots into a board without /proc, where the leak
# checker cannot list its threads; the other sanitizer checks still run.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/build/tools/pkgtool" "$work/scripts" "$work/tmp"
wrap() {  # wrapper program
  printf '#!/bin/sh\nexec %s"$@"\n' "$(printf '%q ' "${emulator[@]}" "$2")" >"$1"
  chmod 755 "$1"
}
wrap "$work/build/tools/pkgtool/pkgtool" "$pkgtool"
wrap "$work/build/installer" "$installer"
printf '#!/bin/sh\n' >"$work/scripts/build"
chmod 755 "$work/scripts/build"
ln -s "$source_dir/keys" "$work/keys"

# The sh blocks from the "## pkgtool" heading to the next "## " heading.
awk '/^## /{in_section = /^## pkgtool/; next}
     in_section && /^```sh$/{in_block = 1; next}
     in_block && /^```$/{in_block = 0; next}
     in_block' "$readme" >"$work/examples.sh"
if ! grep -q pkgtool "$work/examples.sh"; then
  echo "no examples found in the pkgtool section of $readme"
  exit 1
fi

cd "$work"
TMPDIR=$work/tmp bash -euo pipefail -x examples.sh
echo "the README's pkgtool examples ran as written"
