#!/bin/sh
# Times an upgrade run of `installer` that installs one 64 MiB package of
# about 2,000 files (unpacked, hashed, signature checked, staged, committed)
# against `tar -xzf` of the same tree into the same file system, with and
# without a sync after it, in one run, and prints the ratios and the peak
# memory sizes.
#   bench/install_bench.sh [BUILD_DIR] [RUNS]
# BUILD_DIR defaults to build (installer and tools/pkgtool/pkgtool in it);
# each side is timed RUNS times (default 3) and its best time counts. Runs as
# root (installer -r enters the board with chroot).
set -eu

build=${1:-build}
runs=${2:-3}
installer=$build/installer
pkgtool=$build/tools/pkgtool/pkgtool
for program in "$installer" "$pkgtool"; do
  [ -x "$program" ] || { echo "install_bench: no $program (build it first)" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "install_bench: run as root (installer -r uses chroot)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/install-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

. "$(dirname "$0")/make_tree.sh"
make_tree "$work/tree"
echo "tree: $files files, $total bytes"

"$pkgtool" build --key keys/development.key --name bench --version 1.0 --build-time 0 \
  --root "$work/tree" -o "$work/bench.vpa" >/dev/null
tar -czf "$work/bench.tar.gz" -C "$work/tree" .
echo "package: $(stat -c %s "$work/bench.vpa") bytes; tar.gz: $(stat -c %s "$work/bench.tar.gz") bytes"

# A fresh board with the package waiting, or a fresh directory for tar.
fresh_board() {
  rm -rf "$work/board"
  mkdir -p "$work/board/flash/boot" "$work/board/flash/var/pdb" "$work/board/flash/rw/pckg" \
           "$work/board/flash/var/pckg" "$work/board/ram/pdb" "$work/board/rw"
  cp "$work/bench.vpa" "$work/board/flash/rw/pckg/"
  sync
}
fresh_untar() { rm -rf "$work/untar"; mkdir -p "$work/untar"; sync; }

now() { date +%s%N; }
# Best of $runs runs in milliseconds, and the peak resident size (KiB) of
# that best run; $1 prepares each run.
best() {
  prepare=$1
  shift
  best_ms=
  i=0
  while [ "$i" -lt "$runs" ]; do
    "$prepare"
    start=$(now)
    /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null
    ms=$(( ($(now) - start) / 1000000 ))
    if [ -z "$best_ms" ] || [ "$ms" -lt "$best_ms" ]; then best_ms=$ms; best_rss=$(cat "$work/rss"); fi
    i=$((i + 1))
  done
  echo "$best_ms $best_rss"
}

set -- $(best fresh_board "$installer" -r "$work/board")
installer_ms=$1 installer_kib=$2
installed=$(find "$work/board/flash" -path "$work/board/flash/d*" -type f | wc -l)
set -- $(best fresh_untar tar -xzf "$work/bench.tar.gz" -C "$work/untar")
tar_ms=$1 tar_kib=$2
# The installer syncs before its first rename and after its commit, so that a
# power cut never leaves half-written files in place; tar followed by one sync
# is the like-for-like baseline.
set -- $(best fresh_untar sh -c 'tar -xzf "$0" -C "$1" && sync' "$work/bench.tar.gz" "$work/untar")
tar_sync_ms=$1

echo "installer (upgrade): ${installer_ms} ms, peak ${installer_kib} KiB, ${installed} files installed"
echo "tar -xzf:            ${tar_ms} ms, peak ${tar_kib} KiB"
echo "tar -xzf; sync:      ${tar_sync_ms} ms"
awk -v p="$installer_ms" -v t="$tar_ms" -v ts="$tar_sync_ms" 'BEGIN {
  printf "ratio installer/tar: %.2f; installer/(tar; sync): %.2f\n", (t > 0 ? p / t : 0), (ts > 0 ? p / ts : 0) }'
