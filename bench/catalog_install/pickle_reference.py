#!/usr/bin/env python3
"""pickle_reference.py <entries.tsv> <file>

Loads the package entries that `package_roundtrip <package> <entries.tsv>`
wrote into one dict (not timed), then pickles the dict to <file>, unpickles
it again, and prints the seconds of that dump and load alone.
"""
import pickle
import sys
import time

KINDS = {"b": lambda v: v == "1", "i": int, "f": float, "s": str}


def load_entries(path):
    entries = {}
    with open(path, encoding="utf-8") as tsv:
        for line in tsv:
            name, kind, value = line.rstrip("\n").split("\t", 2)
            entries[name] = KINDS[kind](value)
    return entries


def main():
    entries = load_entries(sys.argv[1])
    start = time.perf_counter()
    with open(sys.argv[2], "wb") as out:
        pickle.dump(entries, out, protocol=pickle.HIGHEST_PROTOCOL)
    with open(sys.argv[2], "rb") as back:
        loaded = pickle.load(back)
    elapsed = time.perf_counter() - start
    if len(loaded) != len(entries):
        sys.exit("pickle_reference: entries lost")
    print(f"{elapsed:.4f}")


main()
