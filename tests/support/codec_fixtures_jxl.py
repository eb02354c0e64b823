#!/usr/bin/python3
"""Fixtures of the JPEG XL frame decoder, written into OUTDIR/jxl/.

Images made with numpy are written as PGM/PPM and compressed by libjxl's cjxl: losslessly
(-d 0), where the expected pixels are the source's, and once lossy (-d 1), where they are djxl's
decoding. Every frame is one line of manifest.tsv: name, columns, rows, samples, bytes per sample,
bits stored, signed, photometric, codestream file, expected raw file (samples interleaved, 16 bits
little endian), and the largest difference allowed per sample (0 for lossless).
"""

import os
import subprocess
import sys
import tempfile

import numpy as np

COLUMNS = ["name", "columns", "rows", "samples", "bytes_per_sample", "bits_stored", "signed", "photometric",
           "codestream", "expected", "max_error"]


def texture(rng, rows, columns, high):
    """A smooth ramp, a flat block and a noisy band, so both kinds of coding have work."""
    y, x = np.mgrid[0:rows, 0:columns]
    image = (x * high // max(columns - 1, 1) + y * high // max(rows - 1, 1)) // 2
    image[: rows // 4, : columns // 3] = high // 5
    band = slice(2 * rows // 3, 2 * rows // 3 + 4)
    image[band, :] = rng.integers(0, high + 1, size=image[band, :].shape)
    return image.astype(np.int64)


def write_pnm(path, pixels, maxval):
    """PGM (2-D) or PPM (rows x columns x 3); 16-bit samples big endian, as the format has them."""
    magic = b"P5" if pixels.ndim == 2 else b"P6"
    dtype = ">u2" if maxval > 255 else "u1"
    with open(path, "wb") as f:
        f.write(b"%s\n%d %d\n%d\n" % (magic, pixels.shape[1], pixels.shape[0], maxval))
        f.write(pixels.astype(dtype).tobytes())


def read_pnm(path):
    """A binary PGM/PPM as a numpy array of its samples."""
    with open(path, "rb") as f:
        data = f.read()
    fields, position = [], 0
    while len(fields) < 4:
        while data[position : position + 1].isspace():
            position += 1
        if data[position : position + 1] == b"#":
            position = data.index(b"\n", position)
            continue
        end = position
        while not data[end : end + 1].isspace():
            end += 1
        fields.append(data[position:end])
        position = end
    position += 1
    magic, columns, rows, maxval = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    samples = 3 if magic == b"P6" else 1
    dtype = ">u2" if maxval > 255 else "u1"
    count = rows * columns * samples
    return np.frombuffer(data, dtype=dtype, count=count, offset=position).reshape(rows, columns, samples)


def main():
    out = os.path.join(sys.argv[1], "jxl")
    os.makedirs(out, exist_ok=True)
    rng = np.random.default_rng(20240612)
    # name, pixels, maxval, bits stored, cjxl distance, allowed error
    images = [
        ("gray8", texture(rng, 45, 67, 255), 255, 8, "0", 0),
        ("gray16", texture(rng, 50, 64, 65535), 65535, 16, "0", 0),
        ("gray12", texture(rng, 33, 40, 4095), 4095, 12, "0", 0),
        ("rgb8", np.stack([texture(rng, 41, 53, 255) for _ in range(3)], axis=-1), 255, 8, "0", 0),
        ("rgb8_lossy", np.stack([texture(rng, 64, 72, 255) for _ in range(3)], axis=-1), 255, 8, "1", 1),
    ]
    lines = [COLUMNS]
    with tempfile.TemporaryDirectory() as work:
        for name, pixels, maxval, bits_stored, distance, max_error in images:
            source = os.path.join(work, name + (".pgm" if pixels.ndim == 2 else ".ppm"))
            codestream = os.path.join(out, name + ".jxl")
            # PNM carries no colour space: say it is sRGB (or its grey) rather than let cjxl assume it.
            space = "RGB_D65_SRG_Rel_SRG" if pixels.ndim == 3 else "Gra_D65_Rel_SRG"
            options = ["-d", distance, "-x", "color_space=" + space, "--quiet"]
            if maxval in (255, 65535):
                write_pnm(source, pixels, maxval)
            else:
                # cjxl 0.7 reads a PGM of maxval 4095 as if its samples spanned 0..65535 (819 is
                # stored as 51): give it the samples on that scale and the depth to store them at.
                write_pnm(source, (pixels * 65535 + maxval // 2) // maxval, 65535)
                options.append("--override_bitdepth=%d" % bits_stored)
            subprocess.run(["cjxl", source, codestream] + options, check=True)
            if distance == "0":
                expected = pixels
            else:
                decoded = os.path.join(work, name + "_djxl" + os.path.splitext(source)[1])
                subprocess.run(["djxl", codestream, decoded, "--quiet"], check=True)
                expected = read_pnm(decoded)
            bytes_per_sample = 2 if maxval > 255 else 1
            samples = 1 if pixels.ndim == 2 else 3
            with open(os.path.join(out, name + ".raw"), "wb") as f:
                f.write(np.asarray(expected).astype("<u%d" % bytes_per_sample).tobytes())
            lines.append([name, pixels.shape[1], pixels.shape[0], samples, bytes_per_sample, bits_stored, 0,
                          "RGB" if samples == 3 else "MONOCHROME2", name + ".jxl", name + ".raw", max_error])
    with open(os.path.join(out, "manifest.tsv"), "w") as f:
        for line in lines:
            f.write("\t".join(str(value) for value in line) + "\n")


if __name__ == "__main__":
    main()
