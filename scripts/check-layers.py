#!/usr/bin/env python3
"""Checks that the project's folders include one another only downwards.

The layers, lowest first (a folder may include its own layer and the ones
before it, never one after it):

  win, parser, stream, base, signature, http, update, crashreport, setup, tools

setup/ and resources/ are the program (setup); tools/, fuzz/ and bench/ sit
on top. A folder's tests count as the folder. Every '#include "folder/..."'
of the C++ sources, headers, resource scripts and configured sources is
looked at.

  check-layers.py [--root DIR] [--list]

--list prints, per layer, the layers it includes with the number of include
lines. Exits 1 and names each file and line of an upward include.
"""

import argparse
import os
import re
import sys
from collections import Counter, defaultdict

LAYERS = ["win", "parser", "stream", "base", "signature", "http", "update", "crashreport", "setup", "tools"]
SOURCE_SUFFIXES = (".cpp", ".hpp", ".h", ".rc", ".in")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    """The layer of a path relative to the root, or None outside the layers."""
    parts = path.replace(os.sep, "/").split("/")
    top = parts[0]
    if top == "resources":
        return "setup"
    if top in ("tools", "fuzz", "bench"):
        return "tools"
    return top if top in LAYERS else None


def sources(root):
    for folder, subfolders, files in os.walk(root):
        relative = os.path.relpath(folder, root)
        if relative == ".":
            subfolders[:] = [s for s in subfolders if s not in ("build", ".git")]
        for name in files:
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.normpath(os.path.join(relative, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("--list", action="store_true", help="print the includes per layer")
    args = parser.parse_args()
    root = os.path.abspath(args.root)

    edges = defaultdict(Counter)
    upward = []
    for path in sorted(sources(root)):
        source_layer = layer_of(path)
        if source_layer is None:
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                match = INCLUDE.match(line)
                if not match or "/" not in match.group(1):
                    continue  # a header beside the file, or a generated one
                target_layer = layer_of(match.group(1))
                if target_layer is None:
                    continue
                edges[source_layer][target_layer] += 1
                if LAYERS.index(target_layer) > LAYERS.index(source_layer):
                    upward.append("%s:%d: %s includes %s (%s above %s)"
                                  % (path, number, source_layer, match.group(1), target_layer, source_layer))

    if args.list:
        for layer in LAYERS:
            used = ", ".join("%s %d" % (target, edges[layer][target])
                             for target in LAYERS if edges[layer][target] and target != layer)
            print("%-12s -> %s" % (layer, used or "(nothing)"))
    for line in upward:
        print("upward: " + line, file=sys.stderr)
    if upward:
        print("%d upward include(s)" % len(upward), file=sys.stderr)
        return 1
    print("no upward include between the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
