#!/usr/bin/env bash
# What a load costs per file: series of 2000 and 8000 small files (64 × 64, written once by
# make_series.py into CACHE), loaded by `tarvicon-cli tree --time` (the load alone) and by the
# viewer from its start to the first picture, under its own Xvfb; medians of 3. A load whose
# work grows with the square of the files shows here long before it shows on 400 files.
# usage: bench/loading/many_files.sh CACHE     (BUILD_DIR=build by default; BEFORE_DIR=OTHERBUILD
#        times that build's programs too, for a before/after in one run)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${BUILD_DIR:-$root/build}"
[ $# -eq 1 ] || { echo "usage: $0 CACHE" >&2; exit 2; }
cache=$1
mkdir -p "$cache"
builds=("$build")
[ -n "${BEFORE_DIR:-}" ] && builds+=("$BEFORE_DIR")
declare -A label=([$build]="this build")
[ -n "${BEFORE_DIR:-}" ] && label[$BEFORE_DIR]="before ($BEFORE_DIR)"
for b in "${builds[@]}"; do
  for program in tarvicon tarvicon-cli; do
    [ -x "$b/bin/$program" ] || { echo "$b/bin/$program missing: build first" >&2; exit 1; }
  done
done

work=$(mktemp -d /tmp/tarvicon-many-files.XXXXXX)
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
until [ -s "$work/display" ]; do sleep 0.05; done
export DISPLAY=":$(cat "$work/display")"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
milliseconds() {
  local start
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  echo $((($(date +%s%N) - start) / 1000000))
}

for files in 2000 8000; do
  folder="$cache/series-$files"
  if [ "$(find "$folder" -name '*.dcm' 2>/dev/null | wc -l)" -ne "$files" ]; then
    rm -rf "$folder"
    /usr/bin/python3 "$here/make_series.py" "$folder" --files "$files" --size 64 >/dev/null
  fi
  cat "$folder"/* >/dev/null
  for b in "${builds[@]}"; do
    load=() first=()
    for _ in 1 2 3; do
      load+=("$("$b/bin/tarvicon-cli" tree --time "$folder" 2>&1 >/dev/null | sed -n 's/^Loaded in \([0-9.]*\) ms/\1/p')")
      first+=("$(milliseconds "$root/bench/viewer_first_picture.sh" "$b/bin/tarvicon" "$folder")")
    done
    l=$(printf '%s\n' "${load[@]}" | median)
    f=$(printf '%s\n' "${first[@]}" | median)
    printf '%5d files, %-12s tarvicon-cli tree load %7.1f ms (%5.1f µs a file)   viewer, first picture %6d ms\n' \
      "$files" "${label[$b]}" "$l" "$(echo "$l * 1000 / $files" | bc -l)" "$f"
  done
done
