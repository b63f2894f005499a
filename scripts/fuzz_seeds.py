#!/usr/bin/env python3
"""Writes small seed inputs for each fuzz target into OUT/<target>/, so the
short fuzz runs start from valid archives, streams and texts rather than
from nothing. Usage: fuzz_seeds.py OUT SOURCE_DIR"""

import io
import os
import struct
import sys
import zipfile
import zlib

out, source = sys.argv[1], sys.argv[2]


def put(target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data)


def raw_deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    return c.compress(data) + c.flush()


text = b"The quick brown fox jumps over the lazy dog. " * 40
mixed = bytes((i * 31 + (i >> 3)) & 0xFF for i in range(3000))
for i, (data, level, strategy) in enumerate([
        (text, 6, zlib.Z_DEFAULT_STRATEGY), (mixed, 9, zlib.Z_DEFAULT_STRATEGY), (text, 1, zlib.Z_FIXED),
        (b"a" * 5000, 6, zlib.Z_RLE), (b"", 6, zlib.Z_DEFAULT_STRATEGY), (mixed, 0, zlib.Z_DEFAULT_STRATEGY)]):
    put("fuzz_inflate", f"seed{i}", raw_deflate(data, level, strategy))
    put("fuzz_inflate64", f"seed{i}", raw_deflate(data, level, strategy))

for i, (method, z64) in enumerate([(zipfile.ZIP_STORED, False), (zipfile.ZIP_DEFLATED, False),
                                   (zipfile.ZIP_DEFLATED, True)]):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", method) as z:
        z.writestr("dir/", b"")
        z.writestr("dir/a.txt", text)
        z.writestr("b\u00e9.bin", mixed)
        if z64:
            with z.open("big.txt", "w", force_zip64=True) as f:
                f.write(text)
        z.comment = b"seed"
    put("fuzz_archive", f"seed{i}.zip", buf.getvalue())
put("fuzz_archive", "empty.zip", b"PK\x05\x06" + b"\0" * 18)

for lang in ("de", "en"):
    path = os.path.join(source, "resources", "lang", lang + ".ini")
    if os.path.exists(path):
        with open(path, "rb") as f:
            ini = f.read()
        put("fuzz_ini", lang, ini)
        settings = struct.pack("<III", 0, 0, 0) + b"".join(struct.pack("<I", 0) for _ in range(14))
        put("fuzz_meta", lang, b"KV5SFX" + struct.pack("<III", 110798, 5, len(ini)) + ini + settings)

put("fuzz_crypto_header", "seed0", bytes(range(256)) * 2)

# LZMA entry data (header, properties, raw stream with its end marker) behind
# the target's four bytes: marker flag and piece size, declared size.
import lzma
for i, (data, filt) in enumerate([
        (text, {"id": lzma.FILTER_LZMA1, "preset": 6}),
        (mixed, {"id": lzma.FILTER_LZMA1, "preset": 1, "lc": 0, "lp": 2, "pb": 2}),
        (b"a" * 5000, {"id": lzma.FILTER_LZMA1, "preset": 9, "dict_size": 4096}),
        (b"", {"id": lzma.FILTER_LZMA1, "preset": 6})]):
    raw = lzma.compress(data, lzma.FORMAT_RAW, filters=[filt])
    props = lzma._encode_filter_properties(filt)
    entry = bytes([9, 4]) + struct.pack("<H", len(props)) + props + raw
    put("fuzz_lzma", f"seed{i}", bytes([1 | (i % 4) << 1]) + struct.pack("<I", len(data))[:3] + entry)
buf = io.BytesIO()
with zipfile.ZipFile(buf, "w", zipfile.ZIP_LZMA) as z:
    z.writestr("a.txt", text)
    z.writestr("b.bin", mixed)
    z.writestr("empty", b"")
put("fuzz_archive", "lzma.zip", buf.getvalue())

# The Windows stub, when built, seeds the resource writer with a real image.
stub = os.path.join(source, "build", "bin", "kvsfx-stub.exe")
if os.path.exists(stub):
    with open(stub, "rb") as f:
        put("fuzz_pe_resources", "stub", f.read())
put("fuzz_pe_resources", "not-pe", b"MZ" + b"\0" * 62)
