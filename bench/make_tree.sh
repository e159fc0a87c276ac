# Sourced by the benchmark scripts: make_tree DIR writes the benchmark tree,
# 2,000 files of 64 MiB in all in 40 directories, like a firmware tree: a
# third incompressible binary data, a third configuration-like text, a third
# half data and half zeros (tables, padding). Sets $files and $total.
make_tree() {
  files=2000
  total=$((64 * 1024 * 1024))
  left=$total
  i=0
  while [ "$i" -lt "$files" ]; do
    dir="$1/d$((i % 40))"
    mkdir -p "$dir"
    if [ "$i" -eq $((files - 1)) ]; then
      size=$left
    else
      size=$(( left / (files - i) + (i * 7919) % 40001 - 20000 ))
    fi
    file="$dir/f$i.bin"
    case $((i % 3)) in
      0) head -c "$size" /dev/urandom > "$file" ;;
      1) yes "interface ether$((i % 8)) vlan $i address 10.$((i % 250)).0.1/24 enable" | head -c "$size" > "$file" ;;
      2) { head -c $((size / 2)) /dev/urandom; head -c $((size - size / 2)) /dev/zero; } > "$file" ;;
    esac
    left=$((left - size))
    i=$((i + 1))
  done
}
