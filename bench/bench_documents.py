#!/usr/bin/python3
"""The Python peer of bench_documents: load a results JSON document as plain data (dicts,
lists, texts, numbers) and time json.dumps and PyYAML's pure-Python yaml.dump of it (SafeDumper,
block style), several times each. No conversion hooks run: this is the fastest a
dynamic-language writer could go on the same document.

    bench_documents.py JSON_FILE [--json-runs N] [--yaml-runs N]

Prints each run and "python json.dumps median: SECONDS s, cpu SECONDS s, ..." and
"python yaml.dump median: ..." (wall clock, then the CPU time the process used).
"""
import argparse
import gc
import json
import statistics
import time

import yaml


def timed(name, runs, dump, data):
    walls, cpus = [], []
    size = 0
    for run in range(runs):
        gc.collect()
        begin, cpu_begin = time.perf_counter(), time.process_time()
        text = dump(data)
        cpus.append(time.process_time() - cpu_begin)
        walls.append(time.perf_counter() - begin)
        size = len(text)
        del text
        print(f"python {name} run {run + 1}: {walls[-1]:.3f} s (cpu {cpus[-1]:.3f} s), "
              f"{size / 1e6:.1f} MB: {size / 1e6 / walls[-1]:.2f} MB/s", flush=True)
    if walls:
        wall, cpu = statistics.median(walls), statistics.median(cpus)
        print(f"python {name} median: {wall:.3f} s, cpu {cpu:.3f} s: {size / 1e6 / wall:.2f} MB/s, "
              f"cpu {size / 1e6 / cpu:.2f} MB/s", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("json_file")
    parser.add_argument("--json-runs", type=int, default=3)
    parser.add_argument("--yaml-runs", type=int, default=1)
    args = parser.parse_args()
    with open(args.json_file, encoding="ascii") as f:
        data = json.load(f)
    timed("json.dumps", args.json_runs, json.dumps, data)
    timed("yaml.dump", args.yaml_runs,
          lambda d: yaml.dump(d, Dumper=yaml.SafeDumper, default_flow_style=False), data)


if __name__ == "__main__":
    main()
