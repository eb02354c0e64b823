#!/usr/bin/env bash
# Loading a 400-instance 512 x 512 series from a PACS on loopback: Orthanc with its DICOMweb plugin,
# started here on a free port with its own storage, filled through its REST API. Compares
# `tarvicon-cli tree dicomweb:...` with curl fetching the same instances over eight parallel
# connections, with curl fetching each series in one answer (as tarvicon-cli does), and with a
# Python client (requests + pydicom, eight threads, every pixel decoded);
# each the median of 5 runs taken in turns (RUNS=N), and the ratios; the local folder's load as
# well, for what decoding and squeezing cost.
# usage: bench/dicomweb/run.sh [FOLDER]   (FOLDER: the series; written by bench/loading/make_series.py
#        when missing; BUILD_DIR=build by default)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${BUILD_DIR:-$root/build}"
folder=${1:-/tmp/tarvicon-bench-series}
[ -x /usr/sbin/Orthanc ] || { echo "Orthanc is not installed (run scripts/setup)" >&2; exit 1; }
[ -x "$build/bin/tarvicon-cli" ] || { echo "$build/bin/tarvicon-cli is not built" >&2; exit 1; }
command -v curl >/dev/null || { echo "curl is missing" >&2; exit 1; }
[ -d "$folder" ] && [ "$(ls "$folder" | wc -l)" -ge 400 ] || /usr/bin/python3 "$root/bench/loading/make_series.py" "$folder"
exec /usr/bin/python3 "$here/bench.py" "$folder" "$build/bin/tarvicon-cli"
