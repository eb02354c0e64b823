#!/usr/bin/env bash
# A hand on the mouse, timed by the viewer's own frame log (drive.py), on a series folder
# (bench/loading/make_series.py writes the 512 × 512 × 400 one) in a 1600 × 1000 window under
# Xvfb; beside it the core's own time for the same pictures (`tarvicon-cli render --repeat`) and
# the time from start to the first picture against `tarvicon-cli tree` on the same folder, each
# the median of 3 runs. Not a test: it prints figures.
# usage: bench/interaction/run.sh FOLDER     (BUILD_DIR=build by default; TARVICON_BENCH_PERF=DIR
#        records a perf profile of the slice loop there)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${BUILD_DIR:-$root/build}"
[ $# -eq 1 ] || { echo "usage: $0 FOLDER" >&2; exit 2; }
folder=$(cd "$1" && pwd)
for program in tarvicon tarvicon-cli command_table; do
  [ -x "$build/bin/$program" ] || { echo "$build/bin/$program missing: build first" >&2; exit 1; }
done
work=$(mktemp -d /tmp/tarvicon-interaction.XXXXXX)
# One virtual screen for everything, so that no timing includes a server's start.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
until [ -s "$work/display" ]; do sleep 0.05; done
export DISPLAY=":$(cat "$work/display")"
cat "$folder"/* >/dev/null

echo "== frames while a hand works (the viewer's own frame log)"
/usr/bin/python3 "$here/drive.py" "$build/bin/tarvicon" "$build/bin/command_table" "$folder" "$work/drive"

echo "== the core's own time for the same pictures (tarvicon-cli render --repeat 20, empty slice cache)"
for view in detail coronar sagital transaxial; do
  printf '%-12s %s\n' "$view" "$("$build/bin/tarvicon-cli" render "$folder" --config "$build/bin/tarvicon.cfg" \
    --view "$view" --repeat 20 | grep median_ms)"
done

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null 2>&1; end=$(date +%s.%N); echo "$end - $start" | bc; }
echo "== start to the first picture (whole process, median of 3) against tarvicon-cli tree"
first=(); tree=()
for _ in 1 2 3; do
  first+=("$(seconds "$root/bench/viewer_first_picture.sh" "$build/bin/tarvicon" "$folder")")
  tree+=("$(seconds "$build/bin/tarvicon-cli" tree "$folder")")
done
f=$(printf '%s\n' "${first[@]}" | median)
t=$(printf '%s\n' "${tree[@]}" | median)
printf 'viewer, first picture %.2f s    tarvicon-cli tree %.2f s   ratio %.2f\n' "$f" "$t" \
  "$(echo "$f / $t" | bc -l)"
