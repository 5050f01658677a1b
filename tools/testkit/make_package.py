#!/usr/bin/env python3
"""Builds a component package of the test kit from the built programs.

A package is a copy of the package program (wex_package.exe) with a behaviour
block appended; its payload is a copy of Kallup.exe with Kallup's own block.
The layout (see tools/testkit/packages/behaviour_block.h):

    [program][payload][JSON][payload size: u64 LE][JSON size: u64 LE]["WEXKITB1"]

The behaviour description is one JSON object (text, or @file):

    {"component": 7, "exitCode": 0, "unpack": true,
     "kallup": {"version": "1.0.0.1", "exitCode": 0}}

Package keys: "component", "exitCode" (0; 1000 also counts as success),
"unpack" (true; false unpacks nothing). "kallup" holds Kallup's keys:
"version", "exitCode", "markers", "registryKey", "missingPathExit"; its
"component" defaults to the package's.

    python3 tools/testkit/make_package.py --program .../testkit/wex_package.exe \
        --kallup .../testkit/Kallup.exe --behaviour '{"component": 1}' --out pkg.exe
"""
import argparse
import json
import os
import struct
import sys

MAGIC = b"WEXKITB1"


def encode_block(behaviour, payload=b""):
    text = json.dumps(behaviour, sort_keys=True, separators=(",", ":")).encode("utf-8")
    return payload + text + struct.pack("<QQ", len(payload), len(text)) + MAGIC


def build_package(program_bytes, kallup_bytes, description):
    if "component" not in description:
        raise ValueError("the behaviour needs a \"component\" id")
    package = {k: v for k, v in description.items() if k != "kallup"}
    kallup = dict(description.get("kallup", {}))
    kallup.setdefault("component", description["component"])
    kallup_copy = kallup_bytes + encode_block(kallup)
    return program_bytes + encode_block(package, kallup_copy)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", required=True, help="the built wex_package.exe")
    parser.add_argument("--kallup", required=True, help="the built Kallup.exe")
    parser.add_argument("--behaviour", required=True, help="JSON object, or @file holding one")
    parser.add_argument("--out", required=True, help="the package file to write")
    args = parser.parse_args()
    text = args.behaviour
    if text.startswith("@"):
        with open(text[1:], encoding="utf-8") as f:
            text = f.read()
    description = json.loads(text)
    if not isinstance(description, dict):
        sys.exit("make_package: the behaviour must be a JSON object")
    with open(args.program, "rb") as f:
        program_bytes = f.read()
    with open(args.kallup, "rb") as f:
        kallup_bytes = f.read()
    try:
        package = build_package(program_bytes, kallup_bytes, description)
    except ValueError as e:
        sys.exit("make_package: %s" % e)
    folder = os.path.dirname(os.path.abspath(args.out))
    os.makedirs(folder, exist_ok=True)
    with open(args.out, "wb") as f:
        f.write(package)


if __name__ == "__main__":
    main()
