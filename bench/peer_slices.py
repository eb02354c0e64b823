#!/usr/bin/python3
"""Peer timings for slice_bench: the same cuts of a 512 x 512 x 400 16-bit cube done with numpy
and VTK's reslicer, in-process, median of several runs. Run with Debian's python3."""

import statistics
import time

import numpy as np
import vtk
from vtk.util import numpy_support

DEPTH, HEIGHT, WIDTH = 400, 512, 512
RUNS = 9


def median_ms(action, runs=RUNS):
    action()
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        action()
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def make_cube():
    rng = np.random.default_rng(1)
    z, y, x = np.ogrid[:DEPTH, :HEIGHT, :WIDTH]
    r = ((x - 256) / 230.0) ** 2 + ((y - 256) / 180.0) ** 2 + ((z - 200) / 190.0) ** 2
    cube = np.where(r < 1, 1000, 0).astype(np.uint16)
    cube += rng.integers(0, 64, size=cube.shape, dtype=np.uint16)
    return cube


def main():
    cube = make_cube()  # [z, y, x], x fastest, as the cube's store
    lut = (np.arange(65536, dtype=np.uint32) // 16).clip(0, 255) * 0x010101 + 0xFF000000
    lut = lut.astype(np.uint32)
    zc, yc, xc = 200, 256, 256
    results = []

    # Thin slices: the copy of one plane and the table look-up.
    results.append(("numpy thin RBF", median_ms(lambda: lut[np.ascontiguousarray(cube[zc])])))
    results.append(("numpy thin RFT", median_ms(lambda: lut[np.ascontiguousarray(cube[:, yc, :])])))
    results.append(("numpy thin BFR", median_ms(lambda: lut[np.ascontiguousarray(cube[:, :, xc])])))

    # Maximum over a 32-slice slab and over the whole axis, then the look-up.
    results.append(("numpy max32 RBF", median_ms(lambda: lut[cube[zc - 15:zc + 17].max(axis=0)])))
    results.append(("numpy max32 RFT", median_ms(lambda: lut[cube[:, yc - 15:yc + 17, :].max(axis=1)])))
    results.append(("numpy max32 BFR", median_ms(lambda: lut[cube[:, :, xc - 15:xc + 17].max(axis=2)])))
    results.append(("numpy maxall RBF", median_ms(lambda: lut[cube.max(axis=0)], 5)))
    results.append(("numpy maxall RFT", median_ms(lambda: lut[cube.max(axis=1)], 5)))
    results.append(("numpy maxall BFR", median_ms(lambda: lut[cube.max(axis=2)], 5)))
    results.append(("numpy mean9 RBF",
                    median_ms(lambda: lut[cube[zc - 4:zc + 5].mean(axis=0, dtype=np.float32).astype(np.uint16)])))

    # VTK: the reslicer's slab modes on an image of the same bytes.
    image = vtk.vtkImageData()
    image.SetDimensions(WIDTH, HEIGHT, DEPTH)
    image.SetSpacing(1.0, 1.0, 1.0)
    scalars = numpy_support.numpy_to_vtk(cube.ravel(), deep=False, array_type=vtk.VTK_UNSIGNED_SHORT)
    image.GetPointData().SetScalars(scalars)

    # Direction cosines (columns are the output x, y, z axes in input space) per view path.
    axes = {
        "RBF": (1, 0, 0, 0, 1, 0, 0, 0, 1),
        "RFT": (1, 0, 0, 0, 0, -1, 0, 1, 0),
        "BFR": (0, 0, 1, 1, 0, 0, 0, 1, 0),
    }

    def reslice(cosines, slab_mode, slices, threads=2):
        r = vtk.vtkImageReslice()
        r.SetInputData(image)
        r.SetResliceAxesDirectionCosines(*cosines)
        r.SetResliceAxesOrigin(xc, yc, zc)
        r.SetOutputDimensionality(2)
        r.SetInterpolationModeToNearestNeighbor()
        r.SetSlabNumberOfSlices(slices)
        r.SetNumberOfThreads(threads)
        if slab_mode == "max":
            r.SetSlabModeToMax()
        else:
            r.SetSlabModeToMean()

        def run():
            r.Modified()
            r.Update()
            out = numpy_support.vtk_to_numpy(r.GetOutput().GetPointData().GetScalars())
            return lut[out]

        return run

    extents = {"RBF": DEPTH, "RFT": HEIGHT, "BFR": WIDTH}
    for path, cosines in axes.items():
        results.append((f"vtk max32 {path}", median_ms(reslice(cosines, "max", 32))))
    for path, cosines in axes.items():
        results.append((f"vtk maxall {path}", median_ms(reslice(cosines, "max", extents[path]), 5)))
    c, s = np.cos(np.radians(30)), np.sin(np.radians(30))
    oblique = (c, 0, -s, 0, 1, 0, s, 0, c)
    results.append(("vtk mean9 oblique30 RBF", median_ms(reslice(oblique, "mean", 9))))

    cached = cube.max(axis=0)
    results.append(("numpy remap 512x512", median_ms(lambda: lut[cached])))

    for name, ms in results:
        print(f"{name:28s} {ms:9.3f} ms")


if __name__ == "__main__":
    main()
