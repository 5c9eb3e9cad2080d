#!/usr/bin/python3
"""Turns a mervane-bench JSON report into the README's performance table.

    build/release/bench/mervane-bench --benchmark_repetitions=9 --benchmark_format=json \\
        --benchmark_out=bench.json --benchmark_out_format=json
    /usr/bin/python3 bench/readme_table.py bench.json

Prints the processor (from /proc/cpuinfo: run it on the machine of the run), the direct-sum
kernel the run used, and one row per benchmark with the medians of wall time and of the whole
process's CPU time (both threads), with the correlation's speed-up over the plain definition and
over one thread.
"""
import json
import sys

KERNELS = {0: "portable", 1: "AVX2", 2: "AVX-512 VNNI"}
UNIT_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1000.0}


def cpu_name():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown processor"


def fmt(ms):
    return f"{ms * 1000:.1f} µs" if ms < 1 else f"{ms:.2f} ms"


def main(path):
    with open(path, encoding="utf-8") as f:
        report = json.load(f)
    rows, kernel = {}, None
    for b in report["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        name = b["run_name"].replace("/process_time", "").replace("/real_time", "")
        scale = UNIT_MS[b["time_unit"]]
        rows[name] = (b["real_time"] * scale, b["cpu_time"] * scale)
        kernel = b.get("kernel", kernel)
    context = report.get("context", {})
    print(f"{cpu_name()}, {context.get('num_cpus', '?')} processors; direct sums: "
          f"{KERNELS.get(kernel, 'unknown')} kernel; medians of "
          f"{report['benchmarks'][0].get('repetitions', '?')} repetitions\n")
    print("| benchmark | wall | CPU (both threads) | versus |")
    print("|---|---|---|---|")
    for name, (wall, cpu) in rows.items():
        plan = name.split("/", 1)[1] if "/" in name else ""
        versus = ""
        if name.startswith("correlateEcho/"):
            ref = rows.get(f"correlateReference/{plan}")
            one = rows.get(f"correlateEchoOneThread/{plan}")
            if ref:
                versus = f"reference {fmt(ref[0])}: {ref[0] / wall:.0f}x"
            elif one:
                versus = f"one thread {fmt(one[0])}: {one[0] / wall:.2f}x"
        print(f"| `{name}` | {fmt(wall)} | {fmt(cpu)} | {versus} |")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "bench.json")
