"""Independent reader and writer of the "ILDS" backup archive, for tests.

Written from the format description alone, with Python's zlib:
"ILDS", u32 header length, compress flag byte, u32 version (all integers
little-endian), then entries to the end of the file: a name (version 2 and
up: length byte + characters; below 2: a 256-byte field), u32 data length L,
L bytes raw or one zlib stream. Without the magic the file holds old-form
entries (256-byte names, raw) from the start. An empty trimmed name ends it.

Command line:
  ilds.py list ARCHIVE            one line per entry: name (hex) and L
  ilds.py verify ARCHIVE FOLDER   the archive must be whole, each entry equal
                                  to FOLDER's file of that name (compressed:
                                  equal to zlib.compress of it); prints the
                                  entry count
"""
import os
import struct
import sys
import zlib

MAGIC = b"ILDS"


def header(compressed=True, version=2, length=5, pad=b""):
    """The header declaring a block of the given length: flag + version +
    pad, cut to that length (a longer length claims bytes not there)."""
    block = bytes([1 if compressed else 0]) + struct.pack("<I", version) + pad
    return MAGIC + struct.pack("<I", length) + block[:length]


def entry(name, data, compressed=True, version=2, payload=None, length=None):
    """One entry; payload replaces the stored bytes, length the declared L."""
    if payload is None:
        payload = zlib.compress(data) if compressed else data
    if version >= 2:
        field = bytes([len(name)]) + name
    else:
        field = (bytes([len(name)]) + name + b"\xAA" * 255)[:256]
    declared = len(payload) if length is None else length
    return field + struct.pack("<I", declared) + payload


def archive(files, compressed=True, version=2, headerless=False, **header_args):
    """files: list of (name bytes, data bytes)."""
    out = b"" if headerless else header(compressed, version, **header_args)
    if headerless:
        compressed, version = False, 0
    for name, data in files:
        out += entry(name, data, compressed, version)
    return out


def read(blob, start=0):
    """Answers (compressed, version, entries, whole): entries as (name, L,
    stored bytes); whole is False when the file ends inside an entry."""
    pos, compressed, version = start, False, 0
    if blob[start:start + 4] == MAGIC:
        if len(blob) < start + 8:
            return compressed, version, [], False
        (length,) = struct.unpack_from("<I", blob, start + 4)
        if start + 8 + length > len(blob):
            return compressed, version, [], False
        block = (blob[start + 8:start + 8 + min(length, 5)] + bytes(5))[:5]
        compressed = block[0] != 0
        (version,) = struct.unpack_from("<I", block, 1)
        pos = start + 8 + length
    entries = []
    while pos < len(blob):
        if version >= 2:
            n = blob[pos]
            name, pos = blob[pos + 1:pos + 1 + n], pos + 1 + n
            if len(name) < n:
                return compressed, version, entries, False
        else:
            field, pos = blob[pos:pos + 256], pos + 256
            if len(field) < 256:
                return compressed, version, entries, False
            name = field[1:1 + field[0]]
        if pos + 4 > len(blob):
            return compressed, version, entries, False
        (length,) = struct.unpack_from("<I", blob, pos)
        pos += 4
        if not name.strip(bytes(range(33))):
            break
        if pos + length > len(blob):
            return compressed, version, entries, False
        entries.append((name, length, blob[pos:pos + length]))
        pos += length
    return compressed, version, entries, True


def content(compressed, stored):
    """The file an entry stands for."""
    if not compressed or not stored:
        return stored
    return zlib.decompressobj().decompress(stored)


def main(argv):
    blob = open(argv[2], "rb").read()
    compressed, _, entries, whole = read(blob)
    if argv[1] == "list":
        for name, length, _ in entries:
            print(name.hex(), length)
        return 0 if whole else 1
    if not whole:
        print("archive ends inside an entry")
        return 1
    for name, _, stored in entries:
        path = os.path.join(argv[3], *name.decode("latin-1").split("\\"))
        data = open(path, "rb").read()
        expected = zlib.compress(data) if compressed else data
        if stored != expected:
            print("entry differs:", name)
            return 1
    print(len(entries))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
