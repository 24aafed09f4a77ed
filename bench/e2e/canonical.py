#!/usr/bin/env python3
"""Writes the output the runtime must produce for a record file, so the
benchmark can check its output byte for byte with an implementation that
shares no code with it.

Usage: canonical.py IN.jsonl OUT.jsonl

The form, from docs/protocol.md and src/json/: one compact object per line,
keys in byte order at every depth, strings escaping only '"', '\\' and
0x00-0x1F (\\b \\t \\n \\f \\r, else \\u00xx in lower case), integers that fit
64 bits exact, every other number a float in the runtime's notation. Fails
loudly on any line the runtime would drop, since a benchmark file must hold
only relayed records.
"""

import json
import re
import sys

RECORD_LIMIT = 1 << 20
# Floats travel through json.dumps as strings carrying this prefix, then lose
# their quotes; the generator never writes two NULs in a row.
MARK = "\x00\x00F"
MARKED = re.compile(r'"\\u0000\\u0000F([^"]*)"')


def float_text(value):
    """Shortest round-trip digits; plain when the decimal exponent is in
    [-5, 15] (with at least one digit after the point), else d.ddde+N."""
    if value != value or value in (float("inf"), float("-inf")):
        raise ValueError("not finite")
    sign = "-" if str(value).startswith("-") else ""
    magnitude = abs(value)
    if magnitude == 0.0:
        return sign + "0.0"
    text = repr(magnitude)
    mantissa, _, exp = text.partition("e")
    exponent = int(exp) if exp else 0
    whole, _, frac = mantissa.partition(".")
    digits = (whole + frac).lstrip("0")
    # Position of the first significant digit relative to the point.
    exponent += len(whole) - 1 - (len(whole + frac) - len((whole + frac).lstrip("0")))
    digits = digits.rstrip("0") or "0"
    if -5 <= exponent <= 15:
        if exponent < 0:
            return sign + "0." + "0" * (-exponent - 1) + digits
        point = exponent + 1
        if len(digits) <= point:
            return sign + digits + "0" * (point - len(digits)) + ".0"
        return sign + digits[:point] + "." + digits[point:]
    rest = "." + digits[1:] if len(digits) > 1 else ""
    return f"{sign}{digits[0]}{rest}e{'-' if exponent < 0 else '+'}{abs(exponent)}"


def parse_int(text):
    number = int(text)
    if text == "-0":
        return MARK + "-0.0"
    if -(1 << 63) <= number < (1 << 64):
        return number
    return MARK + float_text(float(text))


def canonical_line(line):
    if len(line) > RECORD_LIMIT:
        raise ValueError("record over 1 MiB")
    value = json.loads(line.decode("utf-8"),
                       parse_float=lambda text: MARK + float_text(float(text)),
                       parse_int=parse_int)
    if not isinstance(value, dict) or not isinstance(value.get("type"), str):
        raise ValueError("not a protocol record")
    text = json.dumps(value, ensure_ascii=False, sort_keys=True, separators=(",", ":"))
    return MARKED.sub(r"\1", text).encode("utf-8") + b"\n"


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: canonical.py IN.jsonl OUT.jsonl")
    with open(sys.argv[1], "rb") as source, open(sys.argv[2], "wb") as out:
        for number, line in enumerate(source, 1):
            try:
                out.write(canonical_line(line))
            except ValueError as error:
                sys.exit(f"{sys.argv[1]}:{number}: {error}")


if __name__ == "__main__":
    main()
