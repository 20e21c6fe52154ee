#!/usr/bin/env python3
"""Writes a copy of a build folder's ctest files whose time limits are
multiplied, for running the suite in the emulated machine (scripts/vm32),
where everything runs about twelve times slower.

  scaled-tests.py BUILD OUT FACTOR

ctest reads the tests of BUILD from its CTestTestfile.cmake files; the copy
under OUT lists the same tests, with every TIMEOUT multiplied by FACTOR and
each test's working folder set to the folder it runs in from BUILD, so that
`ctest --test-dir OUT` runs them exactly as `ctest --test-dir BUILD` would,
only with longer limits. BUILD itself is not changed.
"""

import os
import re
import sys

TIMEOUT = re.compile(r'(\bTIMEOUT ")(\d+(?:\.\d+)?)(")')
PROPERTIES = re.compile(r'^(set_tests_properties\(\[=\[.*?\]=\] PROPERTIES )(.*)$')


def scale(line, factor, folder):
    line = TIMEOUT.sub(lambda m: m.group(1) + str(int(float(m.group(2)) * factor)) + m.group(3), line)
    match = PROPERTIES.match(line)
    if match and "WORKING_DIRECTORY" not in line:
        line = '%sWORKING_DIRECTORY "%s" %s' % (match.group(1), folder, match.group(2))
    return line


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    build, out, factor = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), float(sys.argv[3])
    if not os.path.isfile(os.path.join(build, "CTestTestfile.cmake")):
        sys.exit("scaled-tests.py: %s has no CTestTestfile.cmake (build it first)" % build)
    count = 0
    for folder, subfolders, files in os.walk(build):
        # The copy may lie inside the build folder: never read it back.
        subfolders[:] = [s for s in subfolders if os.path.join(folder, s) != out]
        if "CTestTestfile.cmake" not in files:
            continue
        target = os.path.join(out, os.path.relpath(folder, build))
        os.makedirs(target, exist_ok=True)
        with open(os.path.join(folder, "CTestTestfile.cmake"), encoding="utf-8") as f:
            lines = [scale(line.rstrip("\n"), factor, folder) for line in f]
        count += sum(line.startswith("add_test(") for line in lines)
        with open(os.path.join(target, "CTestTestfile.cmake"), "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
    print("scaled-tests.py: %d tests of %s with time limits x%g in %s" % (count, build, factor, out))


if __name__ == "__main__":
    main()
