#!/usr/bin/env bash
# Loading the codec series (make_series.py: JPEG 2000 lossless, HTJ2K lossless, 8-bit JPEG
# baseline, all from the plain series) with a warm page cache, in one run so that the figures are
# compared as ratios: `tarvicon-cli tree --time` (the load as it times itself, the whole process,
# peak RSS) and GDCM decoding the same files in two processes (gdcm_decode.py, timed inside the
# processes), each the median of 3, wall and processor time; then the time per frame as our load
# gives it, FFmpeg's JPEG 2000 decoders on the same codestreams for comparison, and the ratios. The
# machine's load average is printed before and after: other work stretches the wall times, the
# processor times much less.
# usage: bench/codecs/run.sh PLAIN OUT     (BUILD_DIR=build by default)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${BUILD_DIR:-$root/build}"
cli="$build/bin/tarvicon-cli"
[ $# -eq 2 ] || { echo "usage: $0 PLAIN OUT" >&2; exit 2; }
plain=$1
out=$2
[ -x "$cli" ] || { echo "$cli is not built" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (package time)" >&2; exit 1; }

/usr/bin/python3 "$here/make_series.py" "$plain" "$out"
echo "load average at the start: $(uptime | sed 's/.*load average: //')"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
warm() { cat "$1"/* >/dev/null; }
files=$(find "$out/j2k" -maxdepth 1 -type f | wc -l)
# The reader pool's threads: one per core, at most 4.
threads=$(nproc)
[ "$threads" -gt 4 ] && threads=4

# The medians each case leaves for the ratios at the end, by name.
declare -A result

tree_case() {
  local dir=$1 key=$2 label=$3 log status load=() wall=() rss=() cpu=() began
  warm "$dir"
  log=$(mktemp)
  for _ in 1 2 3; do
    status=0
    began=$(date +%s%N)
    /usr/bin/time -v -o "$log" "$cli" tree --time "$dir" >"$log.out" 2>"$log.err" || status=$?
    wall+=("$(awk -v ns="$(($(date +%s%N) - began))" 'BEGIN { printf "%.1f", ns / 1e6 }')")
    if [ "$status" -ne 0 ]; then
      echo "$label: skipped (tree exited with $status: $(grep -v '^Loaded in' "$log.err" | head -1))"
      rm -f "$log" "$log.out" "$log.err"
      return
    fi
    load+=("$(sed -n 's/^Loaded in \([0-9.]*\) ms/\1/p' "$log.err")")
    rss+=("$(awk '/Maximum resident set size/ { print $NF / 1024 }' "$log")")
    cpu+=("$(awk -F': ' '/(User|System) time \(seconds\)/ { s += $2 } END { print s * 1000 }' "$log")")
  done
  # The cube as the tree prints it: columns x rows x slices, bytes per voxel.
  read -r cube cube16 < <(sed -n 's/.* \([0-9]*\)x\([0-9]*\)x\([0-9]*\) px\([0-9]\) .*/\1 \2 \3 \4/p' "$log.out" |
    awk 'NR == 1 { print $1 * $2 * $3 * $4 / 1048576, $1 * $2 * $3 * 2 / 1048576 }')
  rm -f "$log" "$log.out" "$log.err"
  result[$key]=$(printf '%s\n' "${load[@]}" | median)
  result[${key}_process]=$(printf '%s\n' "${wall[@]}" | median)
  result[${key}_rss]=$(printf '%s\n' "${rss[@]}" | sort -g | tail -1)
  result[${key}_cpu]=$(printf '%s\n' "${cpu[@]}" | median)
  result[${key}_cube]=$cube
  result[cube16]=$cube16
  printf '%-28s median load %7.1f ms, process %7.1f ms (CPU %7.1f ms)  peak RSS %6.1f MiB  cube %.0f MiB\n' \
    "$label" "${result[$key]}" "${result[${key}_process]}" "${result[${key}_cpu]}" "${result[${key}_rss]}" "$cube"
}

gdcm_case() {
  local dir=$1 key=$2 label=$3 why=${4:-} output wall=() cpu=()
  warm "$dir"
  for _ in 1 2 3; do
    if ! output=$(/usr/bin/python3 "$here/gdcm_decode.py" "$dir" 2 2>&1); then
      echo "$label: skipped, ${why:+$why: }$(tail -1 <<<"$output")"
      return
    fi
    wall+=("$(sed -n 's/.* wall \([0-9.]*\) ms$/\1/p' <<<"$output")")
    cpu+=("$(sed -n 's/.* CPU \([0-9.]*\) ms, wall.*/\1/p' <<<"$output")")
  done
  result[$key]=$(printf '%s\n' "${wall[@]}" | median)
  result[${key}_cpu]=$(printf '%s\n' "${cpu[@]}" | median)
  printf '%-28s median %7.1f ms (CPU %7.1f ms), decoding only  (%s)\n' "$label" "${result[$key]}" \
    "${result[${key}_cpu]}" "$(head -1 <<<"$output" | cut -d: -f1)"
  sed -n 's/^ *process/  last run, process/p' <<<"$output"
}

tree_case "$out/j2k" j2k "tarvicon-cli tree, J2K"
tree_case "$out/htj2k" htj2k "tarvicon-cli tree, HTJ2K"
tree_case "$out/jpeg8" jpeg8 "tarvicon-cli tree, JPEG 8"
gdcm_case "$out/j2k" gdcm_j2k "GDCM, J2K, 2 processes"
gdcm_case "$out/jpeg8" gdcm_jpeg8 "GDCM, JPEG 8, 2 processes"
# Debian 12's GDCM (3.0.21) does not know the HTJ2K syntaxes; a newer one is timed as well.
gdcm_case "$out/htj2k" gdcm_htj2k "GDCM, HTJ2K, 2 processes" "this GDCM cannot read HTJ2K"

# Per frame, from our loads: wall time per frame and reader thread, and processor time (user and
# system, the whole process) per frame, which other work on the machine stretches less. Both are
# upper bounds on the codec's share: the load also parses the files and fills the cube.
echo "per frame (tarvicon-cli: load x $threads reader threads / $files frames; CPU / $files frames):"
for key in j2k htj2k jpeg8; do
  [ -n "${result[$key]:-}" ] || continue
  result[${key}_cpu_frame]=$(awk -v cpu="${result[${key}_cpu]}" -v n="$files" 'BEGIN { print cpu / n }')
  awk -v k="tarvicon-cli, $key" -v ms="${result[$key]}" -v cpu="${result[${key}_cpu_frame]}" -v t="$threads" \
    -v n="$files" 'BEGIN { printf "  %-32s %6.2f ms  (CPU %6.2f ms)\n", k, ms * t / n, cpu }'
done

# FFmpeg on the same JPEG 2000 codestreams, one file a frame, one after another on one thread: its
# own decoder and OpenJPEG through it (the library our J2K load uses).
if command -v ffmpeg >/dev/null; then
  frames=$(mktemp -d)
  /usr/bin/python3 - "$out/j2k" "$frames" <<'EOF'
import os, sys
import pydicom
from pydicom.encaps import generate_pixel_data_frame
folder, target = sys.argv[1:]
for k, name in enumerate(sorted(os.listdir(folder))):
    for frame in generate_pixel_data_frame(pydicom.dcmread(os.path.join(folder, name)).PixelData):
        with open(os.path.join(target, "f%04d.j2k" % k), "wb") as f:
            f.write(frame)
EOF
  for decoder in jpeg2000 libopenjpeg; do
    runs=()
    for _ in 1 2 3; do
      # Its summary: the frames decoded, then the wall and user time of the whole run.
      runs+=("$(ffmpeg -hide_banner -nostdin -benchmark -threads 1 -c:v "$decoder" -f image2 -i "$frames/f%04d.j2k" \
        -f null - 2>&1 | tr '\r' '\n' | awk '/^frame=/ { sub(/^frame= */, ""); n = $1 }
          /^bench: utime/ { for (i = 2; i <= NF; ++i) { split($i, kv, "="); t[kv[1]] = kv[2] + 0 } }
          END { if (n > 0) printf "%.3f %.3f %d\n", t["rtime"] * 1000 / n, t["utime"] * 1000 / n, n }')")
    done
    line=$(printf '%s\n' "${runs[@]}" | sort -g | sed -n 2p)
    if [ -n "$line" ]; then
      read -r ms cpu count <<<"$line"
      result[ffmpeg_$decoder]=$ms
      result[ffmpeg_${decoder}_cpu]=$cpu
      printf '  %-32s %6.2f ms  (CPU %6.2f ms; median of 3 runs of %s frames)\n' \
        "FFmpeg -c:v $decoder, j2k" "$ms" "$cpu" "$count"
    else
      echo "  FFmpeg -c:v $decoder: skipped (no figures)"
    fi
  done
  rm -rf "$frames"
fi

# Ratios from this run: a over b, when both were measured.
ratio() {
  local label=$1 a=${result[$2]:-} b=${result[$3]:-}
  [ -n "$a" ] && [ -n "$b" ] && awk -v l="$label" -v a="$a" -v b="$b" \
    'BEGIN { if (b > 0) printf "%-54s %6.2f  (%s / %s)\n", l, a / b, a, b }'
  return 0
}
echo "ratios:"
ratio "J2K: GDCM / tarvicon-cli load (at least 1)" gdcm_j2k j2k
ratio "J2K: GDCM / tarvicon-cli process" gdcm_j2k j2k_process
ratio "J2K: GDCM / tarvicon-cli CPU" gdcm_j2k_cpu j2k_cpu
ratio "JPEG 8: GDCM / tarvicon-cli load (at least 2)" gdcm_jpeg8 jpeg8
ratio "JPEG 8: GDCM / tarvicon-cli process" gdcm_jpeg8 jpeg8_process
ratio "JPEG 8: GDCM / tarvicon-cli CPU" gdcm_jpeg8_cpu jpeg8_cpu
ratio "HTJ2K: GDCM / tarvicon-cli load" gdcm_htj2k htj2k
ratio "tarvicon-cli load, J2K / HTJ2K (at least 5)" j2k htj2k
ratio "tarvicon-cli CPU, J2K / HTJ2K" j2k_cpu htj2k_cpu
ratio "J2K CPU per frame: tarvicon-cli / OpenJPEG in FFmpeg" j2k_cpu_frame ffmpeg_libopenjpeg_cpu
ratio "J2K CPU per frame: tarvicon-cli / FFmpeg's decoder" j2k_cpu_frame ffmpeg_jpeg2000_cpu
ratio "peak RSS / 16-bit cube, J2K (at most 2)" j2k_rss cube16
ratio "peak RSS / 16-bit cube, HTJ2K (at most 2)" htj2k_rss cube16
ratio "peak RSS / 16-bit cube, JPEG 8 (at most 2)" jpeg8_rss cube16
ratio "peak RSS / its own 8-bit cube, JPEG 8" jpeg8_rss jpeg8_cube
echo "load average at the end: $(uptime | sed 's/.*load average: //')"
exit 0
