#!/usr/bin/env python3
"""Independent writer of the localised strings file "L01n.bin", for tests, benchmarks
and the sample data.

Written from the file's description, not from the engine's code. The file is one Solid
blob without check value: u32 payload size, then the property list of the compiled
collection:
  "Paths"    u32 count N, then N bytes: every string path, NUL-terminated, end to end
  "Entries"  u32 count M, then per string "StringIndex" (i32, into Strings) and
             "PathStartOffset" (i32, into Paths), sorted by path in unsigned byte order
  "Strings"  u32 count K, then per string: "Id" (NameString), "Speaker" (u32, 0 "none",
             1..23 "Speaker01".."Speaker23"), the eleven texts "Polish" .. "Korean" (UTF-16LE
             units and a 0 unit; empty is the 0 unit alone), nothing for the separator
             "Misc", then "Situation description", "Notes for actors", "Notes" (8-bit
             strings with a 0 byte).

Commands:
  l01n.py <out> <json>             strings from JSON (below)
  l01n.py generate <out> <count>   count strings "Bench/Group%03d/String%05d" (English and
                                   German texts), 100 per group; the benchmark's file

JSON: {"strings": [{"path": "Menu/Title", "texts": {"English": "Sample", ...},
                    "speaker": 0, "situation": "", "actors": "", "notes": ""}, ...],
       "strings_order": "reverse" (optional: store the strings in reverse order),
       "paths": "...",        (optional, raw "Paths" text, "\\u0000" for NUL)
       "entries": [[index, offset], ...]}   (optional, raw "Entries", unsorted as given)
The raw forms write damaged files for the reader's tests.
"""
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from proplist import i32, u32, cstr, name, solid_blob  # noqa: E402

LANGUAGES = ["Polish", "English", "German", "French", "Italian", "Spanish", "Japanese", "Chinese", "Russian",
             "Portuguese", "Korean"]


def wide(text):
    return (text or "").encode("utf-16-le") + b"\x00\x00"


def note(text):
    return cstr(text or "")


def game_string(s):
    """The property list of one GameString; s["path"]'s last component is its Id."""
    texts = s.get("texts", {})
    out = name(s.get("id", s["path"].split("/")[-1])) + u32(s.get("speaker", 0))
    for language in LANGUAGES:
        out += wide(texts.get(language, ""))
    return out + note(s.get("situation")) + note(s.get("actors")) + note(s.get("notes"))


def collection(strings, order=None, raw_paths=None, raw_entries=None):
    """The compiled collection's property list."""
    order = list(range(len(strings))) if order is None else order  # stored position -> input index
    stored_at = {index: position for position, index in enumerate(order)}
    paths, offsets = b"", []
    for s in strings:
        offsets.append(len(paths))
        paths += s["path"].encode() + b"\x00"
    entries = sorted(range(len(strings)), key=lambda i: strings[i]["path"].encode())
    entries = [(stored_at[i], offsets[i]) for i in entries]
    if raw_paths is not None:
        paths = raw_paths.encode("latin-1") if isinstance(raw_paths, str) else raw_paths
    if raw_entries is not None:
        entries = [tuple(e) for e in raw_entries]
    out = u32(len(paths)) + paths
    out += u32(len(entries)) + b"".join(i32(index) + i32(offset) for index, offset in entries)
    out += u32(len(order)) + b"".join(game_string(strings[i]) for i in order)
    return out


def l01n(strings, **kw):
    return solid_blob(collection(strings, **kw))


def from_json(desc):
    strings = desc.get("strings", [])
    order = list(reversed(range(len(strings)))) if desc.get("strings_order") == "reverse" else None
    return l01n(strings, order=order, raw_paths=desc.get("paths"), raw_entries=desc.get("entries"))


def generated(count):
    strings = [{"path": "Bench/Group%03d/String%05d" % (i // 100, i),
                "texts": {"English": "English text %d" % i, "German": "Deutscher Text %d" % i}} for i in range(count)]
    return l01n(strings)


def main(argv):
    if len(argv) == 4 and argv[1] == "generate":
        data, out = generated(int(argv[3])), argv[2]
    elif len(argv) == 3:
        data, out = from_json(json.loads(argv[2])), argv[1]
    else:
        sys.stderr.write(__doc__)
        return 2
    with open(out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
