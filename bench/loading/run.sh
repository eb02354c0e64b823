#!/usr/bin/env bash
# Loading a series folder, warm page cache: the floors (plain_read.c, every file read whole by two
# threads, into one reused buffer each, and with --keep into fresh memory kept to the end), the
# peers (peers.py) and `tarvicon-cli tree` (the load as it times itself with --time, the whole
# process's wall time, peak RSS and minor page faults), each the median of 3 runs; then the
# ratios between them from this one run. The floors, the peers and `tree --time` are timed inside
# their processes around the load alone; the whole process adds the start and the end. Make the
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
  shift 3
  warm "$dir"
  for _ in 1 2 3; do
    line=$("$reader" "$@" "$dir")
    last=$line
    ms+=("$(sed -n 's/.* ms=\([0-9.]*\).*/\1/p' <<<"$line")")
  done
  result[$key]=$(printf '%s\n' "${ms[@]}" | median)
  printf '%-30s %s  median %s ms\n' "$label" "$(cut -d' ' -f1,2 <<<"$last")" "${result[$key]}"
}

floor "$folder" "plain read, 2 threads" plain
floor "$folder" "plain read into fresh memory" plain_keep --keep
[ -n "$jpeg" ] && floor "$jpeg" "plain read, 2 threads (JPEG)" plain_jpeg

peers=$(/usr/bin/python3 "$here/peers.py" "$folder" ${jpeg:+"$jpeg"})
printf '%s\n' "$peers"
result[vtk]=$(sed -n 's/^vtkDICOMImageReader .* median *\([0-9.]*\) ms.*/\1/p' <<<"$peers")
result[gdcm]=$(sed -n 's/^pydicom+gdcm .* median *\([0-9.]*\) ms.*/\1/p' <<<"$peers")

tree_case() {
  local cli=$1 dir=$2 label=$3 key=$4 log wall=() rss=() faults=() load=() status timing=()
  if [ ! -x "$cli" ]; then echo "$label: skipped ($cli not built)"; return; fi
  local usage
  usage=$("$cli" tree 2>&1 || true)
  if ! grep -q 'tree \[-w' <<<"$usage"; then echo "$label: skipped (no tree command)"; return; fi
  if [ ! -x /usr/bin/time ]; then echo "$label: skipped (/usr/bin/time missing)"; return; fi
  grep -q -- '--time' <<<"$usage" && timing=(--time)
  warm "$dir"
  log=$(mktemp)
  for _ in 1 2 3; do
    status=0
    local began=$(date +%s%N)
    /usr/bin/time -v -o "$log" "$cli" tree "${timing[@]}" "$dir" >/dev/null 2>"$log.err" || status=$?
    wall+=("$(awk -v ns="$(( $(date +%s%N) - began ))" 'BEGIN { printf "%.1f", ns / 1e6 }')")
    load+=("$(sed -n 's/^Loaded in \([0-9.]*\) ms/\1/p' "$log.err")")
    if [ "$status" -ne 0 ]; then
      echo "$label: skipped (tree exited with $status: $("$cli" tree "$dir" 2>&1 >/dev/null | head -1))"
      rm -f "$log"; return
    fi
    rss+=("$(awk '/Maximum resident set size/ { print $NF / 1024 }' "$log")")
    faults+=("$(awk '/Minor \(reclaiming a frame\) page faults/ { print $NF }' "$log")")
  done
  rm -f "$log" "$log.err"
  result[$key]=$(printf '%s\n' "${wall[@]}" | median)
  [ -n "${load[0]}" ] && result[${key}_load]=$(printf '%s\n' "${load[@]}" | median)
  result[${key}_rss]=$(printf '%s\n' "${rss[@]}" | sort -g | tail -1)
  printf '%-30s median load %6s ms, process %6.1f ms  peak RSS %7.1f MiB  page faults %s\n' "$label" \
    "${result[${key}_load]:-?}" "${result[$key]}" "${result[${key}_rss]}" "$(printf '%s\n' "${faults[@]}" | median)"
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
ratio "VTK / tarvicon-cli tree, load (at least 2)" vtk tree_load
ratio "VTK / tarvicon-cli tree, process" vtk tree
ratio "tarvicon-cli tree load / plain read (at most 3)" tree_load plain
ratio "tarvicon-cli tree load / read into fresh memory" tree_load plain_keep
ratio "read into fresh memory / plain read" plain_keep plain
ratio "GDCM / tarvicon-cli tree, JPEG, load (at least 3)" gdcm tree_jpeg_load
ratio "GDCM / tarvicon-cli tree, JPEG, process" gdcm tree_jpeg
ratio "peak RSS / cube (at most 2)" tree_rss cube
ratio "peak RSS / cube, JPEG (at most 2)" tree_jpeg_rss cube
ratio "before / after, process" before tree
ratio "before / after, JPEG, process" before_jpeg tree_jpeg
exit 0
