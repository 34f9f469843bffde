#!/usr/bin/env python3
"""Checks the layout rules of src/ that the compiler cannot see.

Usage: check_layout.py SRC_DIR LAYER...   (layers bottom up, as in CMakeLists.txt)

- Layers: a library file includes only from its own layer and the layers
  below it. Test files (*_test.cpp, and helpers whose name holds "testing")
  may also include the test kit, which may include anything.
- Namespaces: every top-level namespace of a file is its folder's name (for
  a nested layer such as tql/subscription, the first folder's), or one of
  the namespaces that event payload records and error classes are named in.
Prints each breach and exits 1 if there is any.
"""
import pathlib
import re
import sys

TEST_KIT = "testkit"
# Payload records and error classes carry their own namespaces.
RECORD_NAMESPACES = {
    "alarms", "alert", "control", "dbms", "errors", "remcheck", "reporter", "router", "scan",
    "scheduler", "services", "skiogrid", "snmp", "socketio", "tsdb",
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
# Literals and comments are matched first so that braces inside them are skipped.
TOKEN = re.compile(
    r'R"([^(\s]*)\((?:.|\n)*?\)\1"|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\''
    r"|//[^\n]*|/\*(?:.|\n)*?\*/|\bnamespace\s+([A-Za-z_][\w:]*)\s*\{|[{}]")


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


def top_namespaces(text):
    depth = 0
    names = set()
    for match in TOKEN.finditer(text):
        token = match.group(0)
        if match.group(2):
            if depth == 0:
                names.add(match.group(2).split("::")[0])
            depth += 1
        elif token == "{":
            depth += 1
        elif token == "}":
            depth -= 1
    return names


def check_file(rel, text, own, layers, rank):
    problems = []
    test = own == TEST_KIT or is_test_file(rel.rsplit("/", 1)[-1])
    for included in INCLUDE.findall(text):
        target = layer_of(included, layers + [TEST_KIT])
        if target is None:
            problems.append(f"{rel}: includes {included}, which is in no layer")
        elif target == TEST_KIT:
            if not test:
                problems.append(f"{rel}: library code includes the test kit ({included})")
        elif own != TEST_KIT and rank[target] > rank[own]:
            problems.append(f"{rel}: includes {included} from {target}, above {own}")
    folder = own.split("/")[0]
    for name in sorted(top_namespaces(text) - RECORD_NAMESPACES - {folder}):
        problems.append(f"{rel}: namespace {name} in folder {own}")
    return problems


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
        else:
            problems += check_file(rel, file.read_text(), own, layers, rank)
    for problem in problems:
        print(problem)
    print(f"layout: {len(problems)} breach(es); layers bottom up: {' < '.join(layers)}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
