#!/bin/sh
# Times `pkgtool build` on a 64 MiB tree of about 2,000 files against
# `tar -czf` of the same tree, in one run, and prints the ratio.
#   bench/pkgtool_bench.sh [PKGTOOL] [RUNS]
# PKGTOOL defaults to build/tools/pkgtool/pkgtool; each side is timed RUNS
# times (default 3) and its best time counts.
set -eu

pkgtool=${1:-build/tools/pkgtool/pkgtool}
runs=${2:-3}
[ -x "$pkgtool" ] || { echo "pkgtool_bench: no pkgtool at $pkgtool (build it first)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/pkgtool-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

. "$(dirname "$0")/make_tree.sh"
make_tree "$work/tree"
echo "tree: $files files, $total bytes"

"$pkgtool" keygen -o "$work/bench.key" >/dev/null

now() { date +%s%N; }
best() {  # best of $runs runs of the command, in milliseconds
  best_ms=
  i=0
  while [ "$i" -lt "$runs" ]; do
    start=$(now)
    "$@" >/dev/null
    ms=$(( ($(now) - start) / 1000000 ))
    if [ -z "$best_ms" ] || [ "$ms" -lt "$best_ms" ]; then best_ms=$ms; fi
    i=$((i + 1))
  done
  echo "$best_ms"
}

pkgtool_ms=$(best "$pkgtool" build --key "$work/bench.key" --name bench --version 1.0 --build-time 0 \
  --root "$work/tree" -o "$work/bench.vpa")
tar_ms=$(best tar -czf "$work/bench.tar.gz" -C "$work/tree" .)

echo "pkgtool build: ${pkgtool_ms} ms, $(stat -c %s "$work/bench.vpa") bytes"
echo "tar -czf:      ${tar_ms} ms, $(stat -c %s "$work/bench.tar.gz") bytes"
awk -v p="$pkgtool_ms" -v t="$tar_ms" 'BEGIN { printf "ratio pkgtool/tar: %.2f\n", (t > 0 ? p / t : 0) }'
