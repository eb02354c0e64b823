#!/usr/bin/env bash
# Loading a series folder, warm page cache: the floor (plain_read.c, every file read whole by two
# threads), the peers (peers.py) and `tarvicon-cli tree` (wall time and peak RSS), each the median
# of 3 runs. Make the folders with make_series.py.
# usage: bench/loading/run.sh FOLDER [JPEGFOLDER]     (BUILD_DIR=build by default)
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

floor() {
  local dir=$1 label=$2 line ms=() last=""
  warm "$dir"
  for _ in 1 2 3; do
    line=$("$reader" "$dir")
    last=$line
    ms+=("$(sed -n 's/.* ms=\([0-9.]*\).*/\1/p' <<<"$line")")
  done
  printf '%-30s %s  median %s ms\n' "$label" "$(cut -d' ' -f1,2 <<<"$last")" \
    "$(printf '%s\n' "${ms[@]}" | median)"
}

floor "$folder" "plain read, 2 threads"
[ -n "$jpeg" ] && floor "$jpeg" "plain read, 2 threads (JPEG)"

/usr/bin/python3 "$here/peers.py" "$folder" ${jpeg:+"$jpeg"}

cli="$build/bin/tarvicon-cli"
tree_case() {
  local dir=$1 label=$2 log wall=() rss=() status
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
  done
  rm -f "$log"
  printf '%-30s median %8.1f ms  peak RSS %7.1f MiB\n' "$label" \
    "$(printf '%s\n' "${wall[@]}" | median)" "$(printf '%s\n' "${rss[@]}" | sort -g | tail -1)"
}

tree_case "$folder" "tarvicon-cli tree"
[ -n "$jpeg" ] && tree_case "$jpeg" "tarvicon-cli tree (JPEG)"
exit 0
