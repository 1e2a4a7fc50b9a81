#!/usr/bin/env python3
"""The Python half of the XML pipeline, as the peer of bench_xml: parse the rough details
bytes with xml.dom.minidom and pretty-print them with two-space indentation, several times.

    bench_xml.py ROUGH_FILE [--runs N]

Prints each run and "python median: SECONDS s (SECONDS s CPU), MB/s of pretty output".
"""
import argparse
import gc
import statistics
import time
import xml.dom.minidom


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("rough_file")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    with open(args.rough_file, "rb") as f:
        rough = f.read()
    times = []
    cpu_times = []
    size = 0
    for run in range(max(1, args.runs)):
        begin = time.perf_counter()
        cpu_begin = time.process_time()
        document = xml.dom.minidom.parseString(rough)
        pretty = document.toprettyxml(indent="  ")
        cpu_times.append(time.process_time() - cpu_begin)
        times.append(time.perf_counter() - begin)
        size = len(pretty.encode("utf-8"))
        document.unlink()
        del document, pretty
        gc.collect()
        print(f"python run {run + 1}: {times[-1]:.3f} s ({cpu_times[-1]:.3f} s CPU), "
              f"{size / 1e6:.1f} MB of pretty text: {size / 1e6 / times[-1]:.1f} MB/s", flush=True)
    middle = statistics.median(times)
    print(f"python median: {middle:.3f} s ({statistics.median(cpu_times):.3f} s CPU), "
          f"{size / 1e6 / middle:.1f} MB/s of pretty output", flush=True)


if __name__ == "__main__":
    main()
