#!/usr/bin/env bash
# Whole process against whole process: decoding one 100-frame 512 x 512 16-bit lossless JPEG
# file (written by DCMTK's dcmcjpeg) with `tarvicon-cli dump --pixels` and with DCMTK's dcmdjpeg.
# Usage: bench/compare-dcmdjpeg.sh [BUILD_DIR]   (needs farm-bench or hyperfine)
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work/src.dcm" <<'PY'
import sys
import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid
rng = np.random.default_rng(1)
y, x = np.mgrid[0:512, 0:512]
r = np.hypot(x - 256, y - 256) / 256
frames = []
for f in range(100):
    body = np.where(r < 0.9, 1040 + 200 * np.cos(r * 7 + f / 20), 24)
    frames.append(np.clip(body + rng.normal(0, 6, body.shape), 0, 4095))
meta = FileMetaDataset()
meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.2"
meta.MediaStorageSOPInstanceUID = generate_uid()
meta.TransferSyntaxUID = ExplicitVRLittleEndian
ds = Dataset(); ds.file_meta = meta
ds.SOPClassUID = meta.MediaStorageSOPClassUID; ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
ds.Modality = "CT"; ds.Rows = ds.Columns = 512; ds.NumberOfFrames = 100
ds.SamplesPerPixel = 1; ds.PhotometricInterpretation = "MONOCHROME2"
ds.BitsAllocated = 16; ds.BitsStored = 16; ds.HighBit = 15; ds.PixelRepresentation = 0
ds.PixelData = np.stack(frames).astype(np.uint16).tobytes()
ds.is_little_endian = True; ds.is_implicit_VR = False
ds.save_as(sys.argv[1], write_like_original=False)
PY
dcmcjpeg "$work/src.dcm" "$work/lossless.dcm"
cli="$build/bin/tarvicon-cli dump --pixels $work/ours.raw $work/lossless.dcm"
ref="dcmdjpeg $work/lossless.dcm $work/theirs.dcm"
if command -v farm-bench >/dev/null; then
  farm-bench -n 10 --timeout 300 --vs "$ref" -- $cli
else
  hyperfine -w 1 -N "$cli" "$ref"
fi
