#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets: make_seeds.sh BUILD_DIR OUT_DIR (one folder per
# target below OUT_DIR). Needs Debian's python3 with pydicom and numpy, DCMTK, and a built
# tarvicon-cli in BUILD_DIR/bin for the parameter snapshot.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ $# -eq 2 ] || { echo "usage: make_seeds.sh BUILD_DIR OUT_DIR" >&2; exit 2; }
build="$(cd "$1" && pwd)"
mkdir -p "$2"
out="$(cd "$2" && pwd)"
for tool in dcmcjpeg dcmcjpls dcmcrle dcmconv gdcmconv cjxl; do
  command -v "$tool" >/dev/null || { echo "make_seeds: $tool missing (run scripts/setup)" >&2; exit 1; }
done
[ -f "$here/../sample/index.xml" ] || bash "$here/../scripts/make-sample" >/dev/null
"$build/bin/tarvicon-cli" params --snapshot >"$out/snapshot.xml"
exec /usr/bin/python3 "$here/make_seeds.py" "$out" "$here/../sample/index.xml" "$out/snapshot.xml"
