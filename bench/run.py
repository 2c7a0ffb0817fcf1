#!/usr/bin/env python3
"""Runs the benchmarks under the Wine test bed and prints their figures against their targets.

usage: run.py --build DIR [NAME ...]   (NAME: a substring of a bench/bench_*.py file name)

Each bench/bench_*.py has run(bed, args): it measures and prints. Benchmarks report; they do not
pass or fail, so a figure outside its target is printed with "OVER TARGET" and the run goes on.
"""
import argparse
import os
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests"))
sys.path.insert(0, HERE)
import testbed  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    bed = testbed.TestBed(args.build, "bench")
    try:
        bed.start()
        for fname in sorted(os.listdir(HERE)):
            if not (fname.startswith("bench_") and fname.endswith(".py")):
                continue
            if args.names and not any(n in fname for n in args.names):
                continue
            module = testbed.load_module(os.path.join(HERE, fname))
            print("== %s" % fname[:-3], flush=True)
            start = time.time()
            try:
                module.run(bed, args)
            except Exception:
                print("benchmark failed:\n" + traceback.format_exc(), flush=True)
            print("   (%.0f s)" % (time.time() - start), flush=True)
    finally:
        bed.stop()


if __name__ == "__main__":
    main()
