#!/usr/bin/python3
"""Decodes every file of FOLDER with GDCM (gdcm.ImageReader, then the image's buffer), the files
dealt out over PROCESSES processes (2 by default). The clock starts when every process has its
imports done and stops when the last one has decoded its share; printed: that wall time in ms and
the processor time of all processes, and each process's time per frame, wall and processor. A file GDCM cannot read or decode stops the run with its name and
status 1. Run with Debian's python3 (python3-gdcm).

usage: gdcm_decode.py FOLDER [PROCESSES]
"""

import multiprocessing
import os
import queue
import sys
import time

import gdcm


def files_of(folder):
    return sorted(os.path.join(folder, n) for n in os.listdir(folder)
                  if os.path.isfile(os.path.join(folder, n)))


def decode(path):
    """The pixels of one file; returns its frame count."""
    reader = gdcm.ImageReader()
    reader.SetFileName(path)
    if not reader.Read():
        raise RuntimeError(f"GDCM cannot read {path}")
    image = reader.GetImage()
    pixels = image.GetBuffer()
    # This binding hands the buffer back as text, one character a byte.
    if isinstance(pixels, str):
        pixels = pixels.encode("utf-8", "surrogateescape")
    if not pixels or len(pixels) != image.GetBufferLength():
        raise RuntimeError(f"GDCM could not decode {path}")
    return image.GetDimension(2) if image.GetNumberOfDimensions() == 3 else 1


def worker(paths, start, results):
    # GDCM warns on every file of some encoders' JPEG 2000; the figures are the point here.
    gdcm.Trace.WarningOff()
    start.wait()
    began, cpu = time.perf_counter(), time.process_time()
    try:
        frames = sum(decode(path) for path in paths)
    except RuntimeError as error:
        results.put((os.getpid(), str(error)))
        return
    results.put((os.getpid(), (frames, time.perf_counter() - began, time.process_time() - cpu)))


def main(argv):
    if not 1 <= len(argv) <= 2 or (len(argv) == 2 and not argv[1].isdigit()) or not os.path.isdir(argv[0]):
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    paths = files_of(argv[0])
    processes = max(1, min(int(argv[1]) if len(argv) == 2 else 2, len(paths)))
    context = multiprocessing.get_context("fork")
    start = context.Barrier(processes + 1)
    results = context.Queue()
    workers = [context.Process(target=worker, args=(paths[k::processes], start, results))
               for k in range(processes)]
    for w in workers:
        w.start()
    start.wait()
    began = time.perf_counter()
    answers = []
    while len(answers) < processes:
        try:
            answers.append(results.get(timeout=1))
        except queue.Empty:
            crashed = [w.exitcode for w in workers if w.exitcode not in (None, 0)]
            if crashed:
                print(f"a decoding process ended with status {crashed[0]}", file=sys.stderr)
                return 1
    wall = time.perf_counter() - began
    for w in workers:
        w.join()
    failures = [answer for _, answer in answers if isinstance(answer, str)]
    if failures:
        print(failures[0], file=sys.stderr)
        return 1
    frames = sum(answer[0] for _, answer in answers)
    cpu = sum(answer[2] for _, answer in answers)
    print(f"GDCM {gdcm.Version.GetVersion()}: {len(paths)} files, {frames} frames, {processes} processes, "
          f"CPU {cpu * 1000:.1f} ms, wall {wall * 1000:.1f} ms")
    for k, (_, (count, seconds, cpu)) in enumerate(answers, 1):
        print(f"  process {k}: {count} frames in {seconds * 1000:.1f} ms, "
              f"{seconds * 1000 / max(count, 1):.2f} ms per frame ({cpu * 1000 / max(count, 1):.2f} ms CPU)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
