#!/bin/bash
# An upgrade that installs 1,000 new small files in 20 new directories makes
# at most 6 system calls per file, as strace counts them.
#
#   calls_test.sh PKGTOOL INSTALLER KEY
set -euo pipefail
if [ "$(id -u)" != 0 ] && unshare --map-root-user true 2>/dev/null; then exec unshare --map-root-user "$0" "$@"; fi
[ "$(id -u)" = 0 ] && strace -o /dev/null true 2>/dev/null || { echo "skipped: needs strace, and root or a user namespace"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
umask 022
mkdir -p "$work"/tree/usr/d{0..19} "$work"/board/{flash/boot,flash/var/pdb,flash/rw/pckg,flash/var/pckg,ram/pdb,rw,dev}
for i in {0..999}; do echo "file $i" > "$work/tree/usr/d$((i % 20))/f$i"; done
"$1" build --key "$3" --name demo --version 1.0 --build-time 0 --root "$work/tree" -o "$work/board/flash/rw/pckg/demo.vpa" >/dev/null
strace -f -c -o "$work/calls" "$2" -r "$work/board" >/dev/null
files=$(find "$work/board/flash/usr" -type f | wc -l) calls=$(awk '$NF == "total" { print $4 }' "$work/calls")
echo "$calls calls for $files files installed"
[ "$files" = 1000 ] && [ "$calls" -le 6000 ]
