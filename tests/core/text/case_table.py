#!/usr/bin/env python3
"""Prints the upper-case table of ToUpperUTF16 as "LLLL UUUU" lines, built from the
listed lower-case ranges with Python's Unicode simple upper-case mappings plus the
fixed exceptions. Units that newer Unicode versions map but the table leaves out are
listed in EXCLUDED. Used by the text test to check the compiled table."""
import unicodedata

RANGES = """0061-007A 00E0-0137 013A-0148 014B-0177 017A-017E 0183-0185 0188 018C 0192 0199
01A1-01A5 01A8 01AD 01B0 01B4-01B6 01B9 01BD 01C6 01C9 01CC-01DC 01DF-01EF 01F3-01F5
01FB-0217 0253-0254 0257-025B 0260 0263 0268-0269 026F 0272 0275 0283 0288-028B 0292
03AC-03CE 03E3-03EF 0430-0481 0491-04BF 04C2-04C4 04C8 04CC 04D1-04EB 04EF-04F5 04F9
0561-0586 10D0-10F5 1E01-1E95 1EA1-1EF9 1F00-1F07 1F10-1F15 1F20-1F27 1F30-1F37
1F40-1F45 1F51-1F57 1F60-1F67 1F80-1F87 1F90-1F97 1FA0-1FA7 1FB0-1FB1 1FD0-1FD1
1FE0-1FE1 24D0-24E9 FF41-FF5A"""

# U+0450 and U+045D did not exist when the table was fixed and U+0289 had no capital
# yet; all other mappings of these ranges are as old as the ranges. The dotless i
# (U+0131 -> ASCII 'I', a mapping lower-casing cannot undo) is left out as well, which
# gives the 666 pairs the table holds.
EXCLUDED = {0x0131, 0x0289, 0x0450, 0x045D}


def pairs():
    out = []
    for r in RANGES.split():
        a, _, b = r.partition("-")
        lo, hi = int(a, 16), int(b or a, 16)
        for u in range(lo, hi + 1):
            if u in EXCLUDED:
                continue
            if u == 0x0258:
                out.append((u, 0x018E))
            elif 0x10D0 <= u <= 0x10F5:
                out.append((u, u - 0x10D0 + 0x10A0))
            elif 0x1F80 <= u <= 0x1FA7 and (u & 0xF) < 8:
                out.append((u, u + 8))
            else:
                up = chr(u).upper()
                if len(up) == 1 and ord(up) != u:
                    out.append((u, ord(up)))
    return out


if __name__ == "__main__":
    for lo, up in pairs():
        print("%04X %04X" % (lo, up))
