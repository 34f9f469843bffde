#!/usr/bin/env python3
"""Checks every #include under src/ against the layer order.

Usage: check_layers.py SRC_DIR LAYER...   (layers bottom up, as in CMakeLists.txt)

A library file may include only from its own layer and the layers below it.
Test files (*_test.cpp and test helpers whose name holds "testing") may also
include the test kit. Prints each offending include and exits 1 if any.
"""
import pathlib
import re
import sys

TEST_KIT = "testkit"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def layer_of(path, layers):
    """The longest layer that holds `path` (a path relative to src/)."""
    best = None
    for layer in layers:
        if path == layer or path.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best


def is_test_file(name):
    return name.endswith("_test.cpp") or "testing" in name


def main():
    src = pathlib.Path(sys.argv[1])
    layers = sys.argv[2:]
    rank = {layer: i for i, layer in enumerate(layers)}
    problems = []
    for file in sorted(src.rglob("*")):
        if file.suffix not in (".h", ".cpp"):
            continue
        rel = file.relative_to(src).as_posix()
        own = layer_of(rel, layers + [TEST_KIT])
        if own is None:
            problems.append(f"{rel}: not in any layer")
            continue
        test = own == TEST_KIT or is_test_file(file.name)
        for included in INCLUDE.findall(file.read_text()):
            target = layer_of(included, layers + [TEST_KIT])
            if target is None:
                problems.append(f"{rel}: includes {included}, which is in no layer")
            elif target == TEST_KIT:
                if not test:
                    problems.append(f"{rel}: library code includes the test kit ({included})")
            elif own != TEST_KIT and rank[target] > rank[own]:
                problems.append(f"{rel}: includes {included} from {target}, above {own}")
    for problem in problems:
        print(problem)
    print(f"layers: {len(problems)} include(s) against the order {' < '.join(layers)}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
