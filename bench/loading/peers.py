#!/usr/bin/python3
"""Peer timings for loading a series folder into one 3-D array, with a warm page cache.

Each case runs in its own process, three times; the time is measured inside the process around
the load only (imports excluded), the peak RSS is that process's ru_maxrss. Printed: the median
time, the largest peak RSS and the RSS the process had after its imports (its baseline).
Run with Debian's python3 (pydicom, numpy, python3-vtk9, python3-gdcm).

usage: peers.py FOLDER [JPEGFOLDER]
"""

import json
import os
import resource
import statistics
import subprocess
import sys
import time

RUNS = 3


def files_of(folder):
    return sorted(os.path.join(folder, n) for n in os.listdir(folder)
                  if os.path.isfile(os.path.join(folder, n)))


def rss_mib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def pydicom_stack(folder, handler=None):
    import numpy as np
    import pydicom
    if handler == "gdcm":
        from pydicom.pixel_data_handlers import gdcm_handler
        assert gdcm_handler.is_available(), "python3-gdcm is not installed"
        pydicom.config.pixel_data_handlers = [gdcm_handler]

    def load():
        datasets = [pydicom.dcmread(path) for path in files_of(folder)]
        datasets.sort(key=lambda ds: float(ds.ImagePositionPatient[2]))
        return np.stack([ds.pixel_array for ds in datasets])

    return load


def vtk_reader(folder):
    import vtk
    from vtk.util import numpy_support

    def load():
        reader = vtk.vtkDICOMImageReader()
        reader.SetDirectoryName(folder)
        reader.Update()
        image = reader.GetOutput()
        return numpy_support.vtk_to_numpy(image.GetPointData().GetScalars()).reshape(
            tuple(reversed(image.GetDimensions())))

    return load


CASES = {
    "pydicom+numpy": lambda folder: pydicom_stack(folder),
    "vtkDICOMImageReader": vtk_reader,
    "pydicom+gdcm (JPEG lossless)": lambda folder: pydicom_stack(folder, "gdcm"),
}


def run_case(name, folder):
    load = CASES[name](folder)
    baseline = rss_mib()
    start = time.perf_counter()
    volume = load()
    elapsed = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(json.dumps(dict(ms=elapsed * 1000, peak_mib=peak, baseline_mib=baseline,
                          shape=list(volume.shape), dtype=str(volume.dtype))))


def warm(folder):
    for path in files_of(folder):
        with open(path, "rb") as f:
            while f.read(1 << 20):
                pass


def measure(name, folder):
    warm(folder)
    results = []
    for _ in range(RUNS):
        output = subprocess.run([sys.executable, os.path.abspath(__file__), "--case", name, folder],
                                check=True, capture_output=True, text=True).stdout
        results.append(json.loads(output.strip().splitlines()[-1]))
    files = files_of(folder)
    size = sum(os.path.getsize(p) for p in files) / 1048576
    shape = "x".join(map(str, reversed(results[0]["shape"])))
    print(f"{name:30s} {len(files)} files {size:6.1f} MiB  median {statistics.median(r['ms'] for r in results):8.1f} ms"
          f"  peak RSS {max(r['peak_mib'] for r in results):7.1f} MiB"
          f" (baseline {results[0]['baseline_mib']:.1f} MiB)  -> {shape} {results[0]['dtype']}",
          flush=True)


def main(argv):
    if len(argv) >= 1 and argv[0] == "--case":
        run_case(argv[1], argv[2])
        return 0
    if not 1 <= len(argv) <= 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    folder = argv[0]
    measure("pydicom+numpy", folder)
    measure("vtkDICOMImageReader", folder)
    if len(argv) == 2:
        measure("pydicom+gdcm (JPEG lossless)", argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
