#!/usr/bin/env python3
"""Checks that a file is a PE image for the given machine (i386 or amd64)
and names no MinGW runtime DLL, so it runs with nothing beside it."""
import struct
import sys

MACHINES = {"i386": 0x14C, "amd64": 0x8664}
RUNTIME_DLLS = (b"libstdc++-6.dll", b"libgcc_s_dw2-1.dll", b"libgcc_s_seh-1.dll",
                b"libwinpthread-1.dll")


def main(path, machine):
    data = open(path, "rb").read()
    if data[:2] != b"MZ":
        sys.exit(f"{path}: not a PE image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: no PE signature")
    found = struct.unpack_from("<H", data, pe + 4)[0]
    if found != MACHINES[machine]:
        sys.exit(f"{path}: machine 0x{found:X}, expected {machine}")
    lowered = data.lower()
    for dll in RUNTIME_DLLS:
        if dll in lowered:
            sys.exit(f"{path}: depends on {dll.decode()}")
    print(f"{path}: PE {machine}, standalone")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
