#!/usr/bin/env python3
"""Counts the Windows API calls that given DLLs make, from a Wine trace with
+relay,+loaddll: calls whose return address lies in one of those DLLs, as
loaded at the addresses the trace names.
  relay_calls.py TRACE DLL_FILE...   prints "count name" lines."""
import collections
import os
import re
import struct
import sys


def image_bytes(path):
    with open(path, 'rb') as dll:
        data = dll.read(4096)
    header = struct.unpack_from('<I', data, 0x3C)[0]
    return struct.unpack_from('<I', data, header + 24 + 56)[0]  # SizeOfImage


def main():
    trace, dlls = sys.argv[1], sys.argv[2:]
    sizes = {os.path.basename(dll).lower(): image_bytes(dll) for dll in dlls}
    ranges = []
    loaded = re.compile(r'Loaded L"[^"]*\\\\([^\\"]+)" at ([0-9A-Fa-f]+)')
    call = re.compile(r':Call ([A-Za-z0-9_.]+)\(.*\) ret=([0-9a-f]+)')
    counts = collections.Counter()
    with open(trace, errors='replace') as lines:
        for line in lines:
            match = loaded.search(line)
            if match and match.group(1).lower() in sizes:
                base = int(match.group(2), 16)
                ranges.append((base, base + sizes[match.group(1).lower()]))
                continue
            match = call.search(line)
            if match:
                address = int(match.group(2), 16)
                if any(low <= address < high for low, high in ranges):
                    counts[match.group(1)] += 1
    for name, count in counts.most_common():
        print(count, name)


main()
