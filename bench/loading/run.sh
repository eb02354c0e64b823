#!/usr/bin/env bash
# Loading a series folder, warm page cache: the floor (plain_read.c, every file read whole by two
# threads), the peers (peers.py) and `tarvicon-cli tree` (wall time, peak RSS and minor page
# faults), each the median of 3 runs; then the ratios between them from this one run. Make the
# folders with make_series.py.
# usage: bench/loading/run.sh FOLDER [JPEGFOLDER]     (BUILD_DIR=build by default)
# BEFORE_DIR=OTHERBUILD also times that build's tarvicon-cli, for a before/after in one run.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${BUILD_DIR:-$root/build}"
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 FOLDER [JPEGFOLDER]" >&2; exit 2; }
folder=$1
jpeg=${2:-}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
warm() { cat "$1"/* >/dev/null; }

reader=/tmp/tarvicon-plain-read
cc -O2 -pthread -o "$reader" "$here/plain_read.c"

# The medians each case leaves for the ratios at the end, by name.
declare -A result

floor() {
  local dir=$1 label=$2 key=$3 line ms=() last=""
  warm "$dir"
  for _ in 1 2 3; do
    line=$("$reader" "$dir")
    last=$line
    ms+=("$(sed -n 's/.* ms=\([0-9.]*\).*/\1/p' <<<"$line")")
  done
  result[$key]=$(printf '%s\n' "${ms[@]}" | median)
  printf '%-30s %s  median %s ms\n' "$label" "$(cut -d' ' -f1,2 <<<"$last")" "${result[$key]}"
}

floor "$folder" "plain read, 2 threads" plain
[ -n "$jpeg" ] && floor "$jpeg" "plain read, 2 threads (JPEG)" plain_jpeg

peers=$(/usr/bin/python3 "$here/peers.py" "$folder" ${jpeg:+"$jpeg"})
printf '%s\n' "$peers"
result[vtk]=$(sed -n 's/^vtkDICOMImageReader .* median *\([0-9.]*\) ms.*/\1/p' <<<"$peers")
result[gdcm]=$(sed -n 's/^pydicom+gdcm .* median *\([0-9.]*\) ms.*/\1/p' <<<"$peers")

tree_case() {
  local cli=$1 dir=$2 label=$3 key=$4 log wall=() rss=() faults=() status
  if [ ! -x "$cli" ]; then echo "$label: skipped ($cli not built)"; return; fi
  local usage
  usage=$("$cli" tree 2>&1 || true)
  if ! grep -q 'tree \[-w' <<<"$usage"; then echo "$label: skipped (no tree command)"; return; fi
  if [ ! -x /usr/bin/time ]; then echo "$label: skipped (/usr/bin/time missing)"; return; fi
  warm "$dir"
  log=$(mktemp)
  for _ in 1 2 3; do
    status=0
    /usr/bin/time -v -o "$log" "$cli" tree "$dir" >/dev/null 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
      echo "$label: skipped (tree exited with $status: $("$cli" tree "$dir" 2>&1 >/dev/null | head -1))"
      rm -f "$log"; return
    fi
    # "Elapsed (wall clock) time (h:mm:ss or m:ss): 0:01.23"
    wall+=("$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0;
                for (i = 1; i <= n; ++i) s = s * 60 + p[i]; print s * 1000 }' "$log")")
    rss+=("$(awk '/Maximum resident set size/ { print $NF / 1024 }' "$log")")
    faults+=("$(awk '/Minor \(reclaiming a frame\) page faults/ { print $NF }' "$log")")
  done
  rm -f "$log"
  result[$key]=$(printf '%s\n' "${wall[@]}" | median)
  result[${key}_rss]=$(printf '%s\n' "${rss[@]}" | sort -g | tail -1)
  printf '%-30s median %8.1f ms  peak RSS %7.1f MiB  page faults %s\n' "$label" "${result[$key]}" \
    "${result[${key}_rss]}" "$(printf '%s\n' "${faults[@]}" | median)"
}

if [ -n "${BEFORE_DIR:-}" ]; then
  tree_case "$BEFORE_DIR/bin/tarvicon-cli" "$folder" "tarvicon-cli tree (before)" before
  [ -n "$jpeg" ] && tree_case "$BEFORE_DIR/bin/tarvicon-cli" "$jpeg" "tarvicon-cli tree (JPEG, before)" before_jpeg
fi
tree_case "$build/bin/tarvicon-cli" "$folder" "tarvicon-cli tree" tree
[ -n "$jpeg" ] && tree_case "$build/bin/tarvicon-cli" "$jpeg" "tarvicon-cli tree (JPEG)" tree_jpeg

# Ratios from this run: a over b, when both were measured.
ratio() {
  local label=$1 a=${result[$2]:-} b=${result[$3]:-}
  [ -n "$a" ] && [ -n "$b" ] && awk -v l="$label" -v a="$a" -v b="$b" \
    'BEGIN { if (b > 0) printf "%-44s %6.2f  (%s / %s)\n", l, a / b, a, b }'
  return 0
}
# The cube of the series: 16-bit samples of every file's rows x columns, as the tree prints it.
cube_mib=$(sed -n 's/.* \([0-9]*\)x\([0-9]*\)x\([0-9]*\) px2 .*/\1 \2 \3/p' \
  <<<"$("$build/bin/tarvicon-cli" tree "$folder" 2>/dev/null)" | awk 'NR == 1 { print $1 * $2 * $3 * 2 / 1048576 }')
result[cube]=$cube_mib
echo "ratios:"
ratio "VTK / tarvicon-cli tree (at least 2)" vtk tree
ratio "tarvicon-cli tree / plain read (at most 3)" tree plain
ratio "GDCM / tarvicon-cli tree, JPEG (at least 3)" gdcm tree_jpeg
ratio "peak RSS / cube (at most 2)" tree_rss cube
ratio "peak RSS / cube, JPEG (at most 2)" tree_jpeg_rss cube
ratio "before / after" before tree
ratio "before / after, JPEG" before_jpeg tree_jpeg
exit 0
