#!/usr/bin/env python3
"""Writes the record files of the end-to-end benchmark: small.jsonl,
medium.jsonl and large.jsonl, about 8.5 MB each, the same bytes on every run.

Usage: gen_records.py OUT_DIR

Each line is a record a backend could print: a JSON object with a string
"type", at most 1 MiB. The text is written by hand rather than by json.dumps
so that it looks like what real backends send and exercises the rewrite: keys
out of order, escapes the canonical form drops or changes (\\/, \\u00e9,
surrogate pairs), number spellings it normalises (1.50, 1e2, 0.10).

Numbers stay where every relay's canonical output should agree: integers
within 64 bits, floats with a decimal exponent in [-5, 15] or below -6 whose
shortest round-trip digits every float writer finds (RapidJSON's Grisu2 misses
them for about one arbitrary decimal in a thousand; the benchmark compares its
relay's output byte for byte on every run, so a miss would show). Escaped
control characters are ones whose \\u00XX form has no hex letter, so upper-
and lower-case writers produce the same bytes.
"""

from decimal import Decimal
import os
import random
import sys

SEED = 20240611
FILE_BYTES = 8_500_000
# Bytes per line aimed at; small records get there by their fields alone.
SHAPES = {"small": 225, "medium": 4096, "large": 250 * 1024}

WORDS = (
    "shard tokenizer epoch gradient checkpoint adapter voice sample prompt "
    "layer batch learning rate warmup cosine dataset split train eval loss "
    "perplexity attention head merge vocab byte pair encode decode cache "
    "queue worker session account memory image browser download policy"
).split()
UNICODE_WORDS = [
    "café", "naïve", "Größe", "señal", "Ελληνικά", "русский", "日本語",
    "中文字符", "한국어", "עברית", "العربية", "🚀", "✓ done", "€42", "–", "…",
]
CONTROL_CHARS = "\x01\x02\x03\x04\x05\x06\x07\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19"
# Spellings the rewrite normalises (1.50 -> 1.5, 1e2 -> 100.0) and common
# short decimals.
FLOAT_SPELLINGS = ["0.1", "0.5", "1.5", "3.14159", "2.71828", "0.25", "1.50", "0.10",
                   "1e2", "2.5E3", "12.5e-1", "-0.75", "100.0", "1e0", "6.5e-2", "7.0",
                   "0.001", "0.3", "99.9", "1234.5"]
# Below 1e-6, written with an exponent by every writer.
TINY_FLOATS = ["1.5e-7", "2.5e-8", "1e-9", "3.2e-10", "7.5e-12", "-4.2e-7", "1.25e-8",
               "9.9e-11", "6e-13", "1.0E-7"]
SHORT_ESCAPES = {'"': '\\"', "\\": "\\\\", "\n": "\\n", "\t": "\\t", "\r": "\\r",
                 "\b": "\\b", "\f": "\\f"}


class Num:
    """A number written exactly as given."""

    def __init__(self, text):
        self.text = text


class Gen:
    def __init__(self, seed):
        self.r = random.Random(seed)

    # ---- leaves -------------------------------------------------------------

    def integer(self):
        r = self.r
        pick = r.random()
        if pick < 0.6:
            return Num(str(r.randrange(0, 10_000)))
        if pick < 0.8:
            return Num(str(-r.randrange(1, 1_000_000)))
        if pick < 0.97:
            return Num(str(r.randrange(0, 1 << 53)))
        return Num(r.choice(["9223372036854775807", "-9223372036854775808",
                             "18446744073709551615", "4294967296", "-1"]))

    def floating(self):
        r = self.r
        pick = r.random()
        if pick < 0.2:
            return Num(r.choice(FLOAT_SPELLINGS))
        if pick < 0.3:
            return Num(r.choice(TINY_FLOATS))
        # m / 2^k is exact in binary, so its exact decimal expansion is also
        # its shortest round-trip form, which every float writer finds.
        value = Decimal(r.randrange(1, 100_000)) / Decimal(2 ** r.randrange(0, 13))
        text = f"{value:f}"
        if "." not in text:
            text += ".0"
        return Num(("-" if r.random() < 0.2 else "") + text)

    def word(self):
        return self.r.choice(WORDS)

    def text(self, n_words):
        r = self.r
        parts = []
        for _ in range(n_words):
            pick = r.random()
            if pick < 0.78:
                parts.append(r.choice(WORDS))
            elif pick < 0.9:
                parts.append(r.choice(UNICODE_WORDS))
            elif pick < 0.95:
                parts.append(r.choice(['"quoted"', "C:\\path\\to", "a/b/c", "line\nbreak",
                                       "tab\there", "cr\r\nlf"]))
            else:
                parts.append("ctl" + r.choice(CONTROL_CHARS))
        return " ".join(parts)

    def js_string(self, s):
        """JSON text of s, escaped in one of several legal ways."""
        r = self.r
        escape_non_ascii = r.random() < 0.35
        out = ['"']
        for ch in s:
            code = ord(ch)
            if ch in SHORT_ESCAPES:
                out.append(SHORT_ESCAPES[ch])
            elif code < 0x20:
                out.append(f"\\u{code:04x}" if r.random() < 0.5 else f"\\u{code:04X}")
            elif ch == "/" and r.random() < 0.5:
                out.append("\\/")
            elif code > 0x7F and escape_non_ascii:
                if code > 0xFFFF:
                    code -= 0x10000
                    out.append(f"\\u{0xD800 + (code >> 10):04x}\\u{0xDC00 + (code & 0x3FF):04x}")
                else:
                    out.append(f"\\u{code:04x}")
            else:
                out.append(ch)
        out.append('"')
        return "".join(out)

    # ---- writing ------------------------------------------------------------

    def dump(self, value, out):
        if isinstance(value, Num):
            out.append(value.text)
        elif value is None:
            out.append("null")
        elif value is True:
            out.append("true")
        elif value is False:
            out.append("false")
        elif isinstance(value, str):
            out.append(self.js_string(value))
        elif isinstance(value, list):
            out.append("[")
            for i, item in enumerate(value):
                if i:
                    out.append(",")
                self.dump(item, out)
            out.append("]")
        else:
            out.append("{")
            for i, (key, item) in enumerate(value.items()):
                if i:
                    out.append(",")
                out.append(self.js_string(key))
                out.append(":")
                self.dump(item, out)
            out.append("}")

    def shuffled(self, pairs):
        """An object whose keys arrive in a random order, as backends send them."""
        pairs = list(pairs)
        self.r.shuffle(pairs)
        return dict(pairs)

    # ---- records --------------------------------------------------------------

    def small(self, n):
        r = self.r
        kind = r.random()
        if kind < 0.4:
            return self.shuffled([
                ("type", "progress"), ("id", Num(str(n))), ("step", self.integer()),
                ("total", Num("100")), ("eta_s", self.floating()),
                ("message", self.text(r.randrange(9, 20))), ("done", r.random() < 0.1),
                ("stage", r.choice(["tokenize", "train", "evaluate", "export"])),
            ])
        if kind < 0.7:
            return self.shuffled([
                ("type", "event"), ("event", r.choice(["log", "metric", "voice_level", "status"])),
                ("data", self.shuffled([("value", self.floating()), ("unit", r.choice(["ms", "%", "tok/s"])),
                                        ("note", self.text(r.randrange(6, 15))), ("seq", self.integer())])),
                ("tags", [self.word() for _ in range(r.randrange(1, 6))]), ("extra", None),
            ])
        return self.shuffled([
            ("type", "response"), ("id", r.choice([Num(str(n)), f"req-{n}"])), ("ok", True),
            ("result", self.shuffled([("state", r.choice(["idle", "training", "paused"])),
                                      ("loss", self.floating()), ("text", self.text(r.randrange(6, 16))),
                                      ("lr", self.floating()), ("epoch", self.integer())])),
        ])

    def item(self, depth):
        r = self.r
        pairs = [
            ("name", self.text(r.randrange(1, 4))), ("index", self.integer()),
            ("score", self.floating()), ("enabled", r.random() < 0.5),
            ("description", self.text(r.randrange(4, 20))),
            ("values", [self.floating() if r.random() < 0.6 else self.integer()
                        for _ in range(r.randrange(1, 12))]),
            ("missing", None),
        ]
        if depth < 4 and r.random() < 0.3:
            pairs.append(("child", self.item(depth + 1)))
        return self.shuffled(pairs)

    def sized(self, n, target):
        """A record of roughly target bytes: items are added until it is that big."""
        r = self.r
        kind = r.random()
        goal = int(target * r.uniform(0.85, 1.15))
        items = []
        size = 0
        while size < goal:
            item = self.item(0)
            piece = []
            self.dump(item, piece)
            size += sum(len(p.encode()) for p in piece) + 1
            items.append(item)
        if kind < 0.5:
            return self.shuffled([
                ("type", "response"), ("id", Num(str(n))), ("ok", True),
                ("result", self.shuffled([("items", items), ("count", Num(str(len(items)))),
                                          ("elapsed_s", self.floating()), ("cursor", None)])),
            ])
        return self.shuffled([
            ("type", "event"), ("event", r.choice(["dataset_rows", "agent_changes", "memory_list"])),
            ("payload", self.shuffled([("rows", items), ("page", self.integer()),
                                       ("final", r.random() < 0.5)])),
        ])


def write_file(path, make_record):
    gen = Gen(SEED)
    written = 0
    n = 0
    with open(path, "wb") as out:
        while written < FILE_BYTES:
            parts = []
            gen.dump(make_record(gen, n), parts)
            line = ("".join(parts) + "\n").encode()
            assert len(line) <= 1 << 20, "record over 1 MiB"
            out.write(line)
            written += len(line)
            n += 1


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: gen_records.py OUT_DIR")
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    write_file(os.path.join(out_dir, "small.jsonl"), lambda g, n: g.small(n))
    write_file(os.path.join(out_dir, "medium.jsonl"), lambda g, n: g.sized(n, SHAPES["medium"]))
    write_file(os.path.join(out_dir, "large.jsonl"), lambda g, n: g.sized(n, SHAPES["large"]))


if __name__ == "__main__":
    main()
