#!/usr/bin/env python3
"""Writes the PE image checksum into an executable, in place: pe_checksum.py <file.exe>

GNU ld fills in the optional header's CheckSum; lld leaves it zero. Tools that rewrite the file
(osslsigncode recomputes it when it adds or removes a signature) would then change that field,
and a signature removed would not give back the bytes that were signed. The checksum is the
one-complement style sum the Windows loader and ImageHlp's CheckSumMappedFile compute: 16-bit
words summed with the carry folded back, the field itself counted as zero, plus the file size.
"""
import struct
import sys


def pe_checksum(data: bytes, field: int) -> int:
    total = 0
    padded = data + (b"\0" if len(data) % 2 else b"")
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    # The field's own two words were summed above; take them out again.
    for (word,) in struct.iter_unpack("<H", data[field:field + 4]):
        total -= word
        if total < 0:
            total += 0xFFFF
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def main() -> int:
    path = sys.argv[1]
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if data[:2] != b"MZ":
        sys.exit(f"pe_checksum.py: {path} is not a PE file")
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"pe_checksum.py: {path} is not a PE file")
    field = pe + 4 + 20 + 64  # signature, file header, then CheckSum at 64 in the optional header
    struct.pack_into("<I", data, field, pe_checksum(bytes(data), field))
    with open(path, "r+b") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
