#!/usr/bin/env python3
"""Writes a site of assets for the copy benchmark: FILES files in nested folders, TOTAL_MB in
all (a tenth of them large images, the rest style sheets, scripts and PHP helpers of a few KB
to a few tens of KB), and a few pages. Usage: gen_assets.py DIR [FILES] [TOTAL_MB]"""
import os
import random
import sys

root = sys.argv[1]
files = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
total = (int(sys.argv[3]) if len(sys.argv) > 3 else 200) << 20
rng = random.Random(42)
large = files // 20  # images: three quarters of the bytes
large_size = total * 3 // 4 // large
small = files - large
small_size = (total - large * large_size) // small
chunk = bytes(rng.getrandbits(8) for _ in range(1 << 16))


def write(path, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        left = size
        while left > 0:
            out.write(chunk[: min(left, len(chunk))])
            left -= len(chunk)


for idx in range(large):
    write(os.path.join(root, "img", f"g{idx % 10}", f"photo{idx}.jpg"), large_size)
for idx in range(small):
    kind = ("css", "js", "lib")[idx % 3]
    ext = {"css": "css", "js": "js", "lib": "php"}[kind]
    size = rng.randint(small_size // 4, small_size * 7 // 4)
    write(os.path.join(root, kind, f"d{idx % 20}", f"s{idx % 7}", f"f{idx}.{ext}"), size)
