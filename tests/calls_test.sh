#!/bin/bash
# An upgrade that installs 1,000 new small files in 200 new directories, three
# deep, makes at most 6 system calls per file, as strace counts them: each new
# directory is asked about once, not each file nor each of its ancestors.
#
#   calls_test.sh PKGTOOL INSTALLER KEY
set -euo pipefail
if [ "$(id -u)" != 0 ] && unshare --map-root-user true 2>/dev/null; then exec unshare --map-root-user "$0" "$@"; fi
[ "$(id -u)" = 0 ] && strace -o /dev/null true 2>/dev/null || { echo "skipped: needs strace, and root or a user namespace"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
umask 022
mkdir -p "$work"/tree/usr/a{0..9}/b{0..9}/c{0..1} "$work"/board/{flash/boot,flash/var/pdb,flash/rw/pckg,flash/var/pckg,ram/pdb,rw,dev}
for i in {0..999}; do echo "file $i" > "$work/tree/usr/a$((i % 10))/b$((i / 10 % 10))/c$((i / 100 % 2))/f$i"; done
"$1" build --key "$3" --name demo --version 1.0 --build-time 0 --root "$work/tree" -o "$work/board/flash/rw/pckg/demo.vpa" >/dev/null
strace -f -c -o "$work/calls" "$2" -r "$work/board" >/dev/null
files=$(find "$work/board/flash/usr" -type f | wc -l) calls=$(awk '$NF == "total" { print $4 }' "$work/calls")
echo "$calls calls for $files files installed"
[ "$files" = 1000 ] && [ "$calls" -le 6000 ]
