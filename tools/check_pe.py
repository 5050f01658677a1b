#!/usr/bin/env python3
"""Checks that a file is a PE image for the given machine (i386 or amd64)
whose import table names only system DLLs, so it runs with nothing beside it.
(A static i686 runtime still names libgcc_s_dw2-1.dll as a string it probes
for at run time; only imports count.)"""
import struct
import sys

MACHINES = {"i386": 0x14C, "amd64": 0x8664}
RUNTIME_DLLS = ("libstdc++-6.dll", "libgcc_s_dw2-1.dll", "libgcc_s_seh-1.dll",
                "libwinpthread-1.dll")


def imported_dlls(data, pe):
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    sections_count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    sections = [struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i)
                for i in range(sections_count)]

    def offset(rva):
        for _, vsize, vaddr, rawsize, rawptr in sections:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rva - vaddr + rawptr
        raise ValueError("RVA outside the sections")

    names = []
    entry = offset(import_rva) if import_rva else None
    while entry is not None:
        name_rva = struct.unpack_from("<I", data, entry + 12)[0]
        if name_rva == 0:
            break
        start = offset(name_rva)
        names.append(data[start:data.index(b"\0", start)].decode("ascii").lower())
        entry += 20
    return names


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
    imports = imported_dlls(data, pe)
    for dll in RUNTIME_DLLS:
        if dll in imports:
            sys.exit(f"{path}: imports {dll}")
    print(f"{path}: PE {machine}, standalone (imports: {', '.join(sorted(imports))})")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
