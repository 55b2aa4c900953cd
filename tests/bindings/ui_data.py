#!/usr/bin/env python3
"""Writes the localised strings the UI package's binding cases read, "Common/L01n.bin" of
the given folder, with the independent writer of tests/support: "text" (the text the call
scripts name every string by), "Credits" (tags and strings for the credits reader) and
"Lines" (two lines for the string partitioner), the same in every language.

usage: ui_data.py OUTPUT_FOLDER
"""
import json
import os
import subprocess
import sys

SUPPORT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'support')
LANGUAGES = ['Polish', 'English', 'German', 'French', 'Italian', 'Spanish', 'Japanese', 'Chinese', 'Russian',
             'Portuguese', 'Korean']
STRINGS = {'text': 'Hello', 'Credits': '<title>\nThe team\n<name>\nSomebody Else\n', 'Lines': 'One\nTwo'}


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    folder = os.path.join(argv[1], 'Common')
    os.makedirs(folder, exist_ok=True)
    strings = [{'path': path, 'texts': {language: text for language in LANGUAGES}}
               for path, text in STRINGS.items()]
    subprocess.run([sys.executable, os.path.join(SUPPORT, 'l01n.py'), os.path.join(folder, 'L01n.bin'),
                    json.dumps({'strings': strings})], check=True)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
