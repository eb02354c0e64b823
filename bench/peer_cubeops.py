#!/usr/bin/python3
"""Peer timings for the cube operations: the same 512 x 512 x 100 16-bit volume through
scipy.ndimage (linear zoom to 2n - 1 per axis, 5 x 5 x 5 convolution, linear rotation by
30 degrees in the X-Y plane). Prints one line per case: name and median of 3 runs in ms."""

import time

import numpy as np
from scipy import ndimage

DEPTH, HEIGHT, WIDTH = 100, 512, 512


def volume():
    # A smooth body with noise, 12-bit values, axes (z, y, x) like the cube's store.
    rng = np.random.default_rng(7)
    z, y, x = np.meshgrid(np.arange(DEPTH), np.arange(HEIGHT), np.arange(WIDTH), indexing="ij")
    inside = (x - 256) ** 2 + (y - 256) ** 2 + 20 * (z - 50) ** 2 < 200 * 200
    body = np.where(inside, 1040 + (x ^ y) % 97, 24)
    return (body + rng.integers(-20, 21, size=body.shape) + 20).astype(np.int16)


def median_ms(action, runs=3):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        action()
        times.append((time.perf_counter() - start) * 1000)
    return sorted(times)[len(times) // 2]


def main():
    cube = volume()
    kernel = np.ones((5, 5, 5), dtype=np.float32)
    kernel /= kernel.sum()

    def zoom(axis):
        factors = [1.0, 1.0, 1.0]
        factors[axis] = (2 * cube.shape[axis] - 1) / cube.shape[axis]
        return lambda: ndimage.zoom(cube, factors, order=1)

    cases = [
        ("upscale_x", zoom(2)),
        ("upscale_y", zoom(1)),
        ("upscale_z", zoom(0)),
        ("filter_5x5x5", lambda: ndimage.convolve(cube, kernel)),
        ("rotate_30", lambda: ndimage.rotate(cube, 30, axes=(2, 1), reshape=False, order=1)),
    ]
    for name, action in cases:
        print(f"{name} {median_ms(action):.1f} ms", flush=True)


if __name__ == "__main__":
    main()
