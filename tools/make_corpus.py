#!/usr/bin/env python3
"""Writes the fuzzing seed corpus: one file of each section kind and the
malformed cases the tests cover. Run from the project root:
    python3 tools/make_corpus.py && cp examples/demo.dbg fuzz/corpus/
"""
import os
import struct

MAGIC = b"[tolvane|dbg|v1.00]\r\n\x1b"
NO_CLASS = 0xFFFFFFFF


def names(records):
    return b"".join(r[-1] + b"\0" for r in records)


def files(records):
    body = b"".join(bytes([k]) + b"\0" * 7 + struct.pack("<i", lines) + b"\0" * 36
                    for k, lines, _ in records)
    return b"[file]" + struct.pack("<I", len(records)) + body + names(records)


def classes(records):
    body = b"".join(bytes([k]) + b"\0" * 3 + struct.pack("<IQQ", parent, start, begin) + b"\0" * 8 +
                    struct.pack("<Q", end) + b"\0" * 24 for k, parent, start, begin, end, _ in records)
    return b"[class]" + struct.pack("<I", len(records)) + body + names(records)


def labels(records):
    body = b"".join(bytes([k]) + b"\0" * 3 + struct.pack("<I", owner) + b"\0" * 16 +
                    struct.pack("<Q", value) + b"\0" * 16 for k, owner, value, _ in records)
    return b"[label]" + struct.pack("<I", len(records)) + body + names(records)


CORPUS = {
    "empty": b"",
    "magic_only": MAGIC,
    "magic_end": MAGIC + b"[end]",
    "files": MAGIC + files([(0, 1, b"a.asm"), (0x42, -1, b"b.inc"), (0x85, 7, b"")]) + b"[end]",
    "classes": MAGIC + classes([(0, NO_CLASS, 0x8000, 0, 0x100, b"text"), (1, 0, 0x8010, 0x10, 0x20, b"init"),
                                (0x83, 5, 0, 16, 8, b"odd")]) + b"[end]",
    "classes_loop": MAGIC + classes([(0, 1, 0, 0, 0, b"A"), (0, 0, 0, 0, 0, b"B")]) +
                    labels([(1, 0, 1, b"L")]) + b"[end]",
    "labels": MAGIC + labels([(1, NO_CLASS, 0, b"x"), (0xC8, 3, 4096, b"y"), (12, NO_CLASS, 2**64 - 1, b"")]) +
              b"[end]",
    "repeated": MAGIC + labels([(1, NO_CLASS, 0, b"x")]) + labels([(1, NO_CLASS, 0, b"y")]) + b"[end]",
    "empty_then_full": MAGIC + files([]) + files([(0, 1, b"f")]) + b"[end]",
    "no_end": MAGIC + files([(0, 1, b"f")]),
    "cut_name": (MAGIC + labels([(1, NO_CLASS, 0, b"abc"), (1, NO_CLASS, 0, b"def")]))[:-2],
    "huge_count": MAGIC + b"[label]\xff\xff\xff\xff[end]",
    "wrong_case": MAGIC + b"[File]\0\0\0\0[end]",
    "wrong_version": b"[tolvane|dbg|v1.01]\r\n\x1b[end]",
}

os.makedirs("fuzz/corpus", exist_ok=True)
for name, data in CORPUS.items():
    with open(os.path.join("fuzz/corpus", name + ".dbg"), "wb") as out:
        out.write(data)
