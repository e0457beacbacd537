#!/usr/bin/env python3
"""Checks that every file under src/ includes only its own layer and the
layers below it (the order the README's Development section gives)."""
import pathlib
import re
import sys

ORDER = ["io", "state", "stop", "math", "fem", "output", "input",
         "drivers", "sens", "run"]
# Layers that sit side by side: neither includes the other.
SIBLINGS = {("fem", "output"), ("output", "fem")}


def main() -> int:
    src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
    include = re.compile(r'^\s*#\s*include\s+"([a-z]+)/', re.M)
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".cpp", ".hpp"):
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in ORDER:
            faults.append(f"{path}: layer {layer} is not in the layer order")
            continue
        for target in include.findall(path.read_text(encoding="utf-8")):
            if target not in ORDER:
                faults.append(f"{path}: includes unknown layer {target}")
            elif (ORDER.index(target) > ORDER.index(layer)
                  or (layer, target) in SIBLINGS):
                faults.append(f"{path}: {layer}/ includes {target}/")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} layering faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
