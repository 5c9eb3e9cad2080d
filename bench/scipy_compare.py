#!/usr/bin/python3
"""Times scipy.signal.correlate(method="fft") at the sizes of mervane-bench's correlation plans.

The yardstick for the FFT path: same number of lags, same template (the plan's real chirp),
full-scale pseudo-random 16-bit recordings. Input is float64 on purpose: on integer arrays
scipy's FFT method silently returns wrong values once sums pass 32 bits.

    /usr/bin/python3 bench/scipy_compare.py [--bench-json FILE] [--repetitions N]

With --bench-json (the output of `mervane-bench --benchmark_format=json
--benchmark_out=FILE --benchmark_repetitions=N`) it prints the ratio to mervane's medians.
Needs Debian's python3-scipy.
"""
import argparse
import json
import math
import statistics
import time

import numpy as np
from scipy import signal

# recordTime [ms], chirpTime [us] of the plans, at the default 16-bit format (offset 600,
# tune scale 2), as planBuffers derives their lengths.
PLANS = {
    "default": (48, 2000),
    "longChirp": (900, 900000),
    "largest": (3600, 3686000),
}
VALUES_PER_SECOND = 88200.0
OFFSET, TUNE = 600, 2


def plan_sizes(record_ms, chirp_us):
    in_bytes = 2 * math.trunc(record_ms * 0.001 * VALUES_PER_SECOND + (TUNE + OFFSET))
    out_bytes = 2 * math.trunc(chirp_us * 0.000001 * VALUES_PER_SECOND)
    lags = (in_bytes + 1000) // 2 - OFFSET + 1
    return lags, out_bytes


def chirp16(length, start_hz=8000.0, end_hz=12000.0, rate=44100):
    """The template makeChirp16 computes (length + 4 values, the running frequency first)."""
    i = np.arange(length + 4, dtype=np.float64)
    step = ((end_hz - start_hz) / length) * 0.5
    f = start_hz * 0.5 + (i + 1) * step
    w = 6.2831853 / rate
    return np.trunc(np.sin((i * w) * f) * 32767.0)


def time_scipy(lags, out_bytes, repetitions):
    taps = chirp16(out_bytes)[4:out_bytes]
    rng = np.random.default_rng(12345)
    data = rng.integers(-32768, 32768, lags + taps.size - 1).astype(np.float64)
    seconds = []
    for _ in range(repetitions):
        t0 = time.perf_counter()
        result = signal.correlate(data, taps, mode="valid", method="fft")
        seconds.append(time.perf_counter() - t0)
    assert result.size == lags
    return statistics.median(seconds) * 1000.0, taps.size


def mervane_medians(path):
    with open(path, encoding="utf-8") as f:
        report = json.load(f)
    medians = {}
    for b in report["benchmarks"]:
        if b.get("aggregate_name") == "median" and b["run_name"].startswith("correlateEcho/"):
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0}[b["time_unit"]]
            # "correlateEcho/largest/process_time/real_time": the plan is the second part
            medians[b["run_name"].split("/")[1]] = b["real_time"] * scale
    return medians


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench-json", help="mervane-bench JSON output with repetitions")
    parser.add_argument("--repetitions", type=int, default=7)
    args = parser.parse_args()
    ours = mervane_medians(args.bench_json) if args.bench_json else {}
    print(f"{'plan':<10} {'lags':>8} {'taps':>8} {'scipy fft [ms]':>15} {'mervane [ms]':>13} "
          f"{'ratio':>6}")
    for name, (record_ms, chirp_us) in PLANS.items():
        lags, out_bytes = plan_sizes(record_ms, chirp_us)
        scipy_ms, taps = time_scipy(lags, out_bytes, args.repetitions)
        line = f"{name:<10} {lags:>8} {taps:>8} {scipy_ms:>15.3f}"
        if name in ours:
            line += f" {ours[name]:>13.3f} {scipy_ms / ours[name]:>5.1f}x"
        print(line)


if __name__ == "__main__":
    main()
