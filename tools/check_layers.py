#!/usr/bin/env python3
"""Checks that every include in src/ points down the layers, never up.

    platform, support  <  core  <  codecs  <  transforms, detection  <  app

A file may include headers of its own layer and of the layers it stands on
(LAYERS below); platform and support are the floor, and transforms and
detection are neighbours that do not use each other. Prints one line per
include against the direction and exits 1 when there is any.

    tools/check_layers.py [ROOT]      ROOT defaults to the repository
"""

import os
import re
import sys

# The layers each layer may include, besides its own.
LAYERS = {
    "platform": set(),
    "support": {"platform"},
    "core": {"platform", "support"},
    "codecs": {"platform", "support", "core"},
    "transforms": {"platform", "support", "core", "codecs"},
    "detection": {"platform", "support", "core", "codecs"},
    "app": {"platform", "support", "core", "codecs", "transforms", "detection"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".inc")


def layer_of_include(name):
    first = name.split("/", 1)[0]
    return first if "/" in name and first in LAYERS else None


def violations(root):
    """(path, line number, included name, message) for every upward include."""
    found = []
    source = os.path.join(root, "src")
    for layer in sorted(LAYERS):
        top = os.path.join(source, layer)
        for directory, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith(SOURCE_SUFFIXES):
                    continue
                path = os.path.join(directory, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = layer_of_include(match.group(1))
                        if target is None or target == layer or target in LAYERS[layer]:
                            continue
                        found.append((os.path.relpath(path, root), number, match.group(1),
                                      f"{layer} may not include {target}"))
    return found


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    if not os.path.isdir(os.path.join(root, "src")):
        print(f"check_layers: no src/ under {root}", file=sys.stderr)
        return 2
    found = violations(root)
    for path, number, name, why in found:
        print(f"{path}:{number}: includes \"{name}\": {why}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
