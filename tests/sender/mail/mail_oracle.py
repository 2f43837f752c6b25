#!/usr/bin/python3
"""Independent reading of encoded header words, by Python's email.header.

  mail_oracle.py decode   stdin: "<hex of the text><TAB><encoded words>";
                          prints the hex of what decode_header gives back
"""
import sys
from email.header import decode_header


def decoded(words):
    parts = decode_header(words)
    return b"".join(part if isinstance(part, bytes) else part.encode("ascii") for part, _ in parts)


def main():
    if sys.argv[1] == "decode":
        for line in sys.stdin:
            _, _, words = line.rstrip("\n").partition("\t")
            print(decoded(words).hex())


if __name__ == "__main__":
    main()
