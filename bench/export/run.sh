#!/usr/bin/env bash
# The rotation's export on a 512 x 512 x 400 series: `tarvicon-cli render --movie rotate` into a GIF,
# an MP4 and a WebM (the whole process: loading the series, 72 pictures, encoding) against
# ImageMagick's `convert` assembling the same 72 pictures, written beforehand as BMP files, into
# an endless GIF with delay 10 (only the assembly is timed). Also the load and one picture alone
# (`render -o`), the floor under every movie. Wall times, the median of RUNS runs (3 by default).
# Make the series with bench/loading/make_series.py.
# usage: bench/export/run.sh FOLDER      (BUILD_DIR=build, RUNS=3, WORK=a temporary folder)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${BUILD_DIR:-$root/build}"
runs="${RUNS:-3}"
[ $# -eq 1 ] || { echo "usage: $0 FOLDER" >&2; exit 2; }
folder=$1
cli="$build/bin/tarvicon-cli"
convert=/usr/bin/convert
[ -x "$cli" ] || { echo "$cli not built" >&2; exit 1; }
[ -x "$convert" ] || { echo "ImageMagick's convert is missing (Debian package imagemagick)" >&2; exit 1; }
work="${WORK:-$(mktemp -d)}"
mkdir -p "$work/frames"
[ -n "${WORK:-}" ] || trap 'rm -rf "$work"' EXIT

# The series as the viewer shows it at first sight (the CT brain window).
shown=("$folder" --config "$root/config/tarvicon.cfg")

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
now_ms() { date +%s%N | awk '{ printf "%.1f", $1 / 1e6 }'; }

# Runs the command RUNS times after one warm-up; prints the median wall time in ms.
time_median() {
  local start end times=()
  "$@" >/dev/null
  for ((i = 0; i < runs; ++i)); do
    start=$(now_ms)
    "$@" >/dev/null
    end=$(now_ms)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')")
  done
  printf '%s\n' "${times[@]}" | median
}

cat "$folder"/* >/dev/null

# The 72 pictures of the rotation, one process each (not timed).
for ((i = 0; i < 72; ++i)); do
  printf -v name '%s/frames/f%03d.bmp' "$work" "$i"
  "$cli" render "${shown[@]}" --set "detail/angle=$((-180 + 5 * i))" -o "$name"
done

declare -A ms
ms[still]=$(time_median "$cli" render "${shown[@]}" -o "$work/still.bmp")
for kind in gif mp4 webm; do
  ms[$kind]=$(time_median "$cli" render "${shown[@]}" --movie rotate "$work/turn.$kind")
done
ms[convert]=$(time_median "$convert" -delay 10 -loop 0 "$work"/frames/f*.bmp "$work/convert.gif")

line() { # label, key
  printf '%-48s median %8.1f ms  %6.2f x convert\n' "$1" "${ms[$2]}" \
    "$(awk -v a="${ms[$2]}" -v b="${ms[convert]}" 'BEGIN { print a / b }')"
}
line "tarvicon-cli render -o (load, one picture)" still
line "tarvicon-cli render --movie rotate GIF" gif
line "tarvicon-cli render --movie rotate MP4 (H.264)" mp4
line "tarvicon-cli render --movie rotate WebM (VP9)" webm
line "convert -delay 10 -loop 0 72 BMP -> GIF" convert
printf 'sizes: GIF %s, MP4 %s, WebM %s, convert GIF %s bytes\n' "$(stat -c %s "$work/turn.gif")" \
  "$(stat -c %s "$work/turn.mp4")" "$(stat -c %s "$work/turn.webm")" "$(stat -c %s "$work/convert.gif")"
