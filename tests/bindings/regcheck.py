#!/usr/bin/env python3
"""Checks a generated binding package against its stored registration snapshot.

Reads the registration calls of the package's open function from the generated C++
(type names, classes with base and collector, modules, functions, variables, arrays,
constants), in order, and compares them with the snapshot that --update wrote from the
same unit. Any difference fails the build: a change to a package file shows as a change
of its snapshot, reviewed with the change (run the printed --update command to take it).
The snapshots are the one list of bound names the binding tests read (gen_calls.py,
gen_behaviour.py); nobody edits them by hand.

Snapshot lines (blank lines and '#' comments ignored):
    type NAME
    class NAME BASE|- collector|none
    begin NAME|-          (a module or class body; '-' for the global module)
    end
    function NAME
    variable NAME rw|ro
    array NAME rw|ro
    constant NAME VALUE   (NAME alone when the generated value is a name, not a literal;
                           such values are checked by the call script, from behaviour.txt)
usage: regcheck.py GENERATED.cpp SNAPSHOT.txt [--update] [STAMP]
  --update writes the snapshot; STAMP, when given, is touched after a match.
"""
import re
import sys

CALL = re.compile(r'\b(tolua_usertype|tolua_cclass|tolua_beginmodule|tolua_endmodule|tolua_function|'
                  r'tolua_variable|tolua_array|tolua_constant)\s*\(tolua_S\s*,?(.*)\);')


def arguments(text):
    """Splits a call's argument text at top-level commas."""
    parts, depth, current, quoted = [], 0, '', False
    for ch in text:
        if ch == '"':
            quoted = not quoted
        if not quoted and ch in '([<':
            depth += 1
        if not quoted and ch in ')]>':
            depth -= 1
        if ch == ',' and depth == 0 and not quoted:
            parts.append(current.strip())
            current = ''
        else:
            current += ch
    if current.strip():
        parts.append(current.strip())
    return parts


def name(arg):
    return arg.strip('"') if arg.startswith('"') else '-'


def registrations(source):
    """The open function's registrations, in order, as manifest lines: first the type
    names of tolua_reg_types, which the open function calls before anything else."""
    types = source.find('static void tolua_reg_types')
    types_end = source.find('\n}', types)
    start = source.find('TOLUA_API int tolua_')
    start = source.find('{', source.find(')', start))
    body = (source[types:types_end] if types >= 0 else '') + '\n' + source[start:]
    lines, skipping = [], False
    for raw in body.splitlines():
        line = raw.strip()
        # Only the C++ branch of the generator's '#ifdef __cplusplus' blocks counts.
        if line.startswith('#else'):
            skipping = True
            continue
        if line.startswith('#endif'):
            skipping = False
            continue
        if skipping:
            continue
        m = CALL.search(line)
        if not m:
            continue
        kind, args = m.group(1), arguments(m.group(2))
        if kind == 'tolua_usertype':
            lines.append('type ' + name(args[0]))
        elif kind == 'tolua_cclass':
            base = name(args[2]) or '-'
            lines.append('class %s %s %s' % (name(args[0]), base if base else '-',
                                             'none' if args[3] in ('NULL', '0') else 'collector'))
        elif kind == 'tolua_beginmodule':
            lines.append('begin ' + name(args[0]))
        elif kind == 'tolua_endmodule':
            lines.append('end')
        elif kind == 'tolua_function':
            lines.append('function ' + name(args[0]))
        elif kind in ('tolua_variable', 'tolua_array'):
            lines.append('%s %s %s' % (kind[len('tolua_'):], name(args[0]),
                                       'ro' if args[2] in ('NULL', '0') else 'rw'))
        elif kind == 'tolua_constant':
            # A value the generator wrote as a name is the header's; only literals compare.
            value = args[1]
            lines.append('constant %s' % name(args[0]) if re.match(r'^[A-Za-z_]\w*$', value)
                         else 'constant %s %s' % (name(args[0]), value))
    return lines


def manifest(text):
    out = []
    for line in text.splitlines():
        line = line.split('#', 1)[0].strip()
        if line:
            out.append(' '.join(line.split()))
    return out


HEADER = """# The registrations of the generated package, in order. Written by
#   regcheck.py GENERATED.cpp THIS_FILE --update
# from the generated unit; do not edit.
"""


def main():
    args = [a for a in sys.argv[1:] if a != '--update']
    if len(args) not in (2, 3):
        print(__doc__)
        return 2
    with open(args[0]) as f:
        found = registrations(f.read())
    # The empty base name is written '-'.
    found = [re.sub(r'^class (\S+) (\S*) ', lambda m: 'class %s %s ' % (m.group(1), m.group(2) or '-'), l)
             for l in found]
    if '--update' in sys.argv:
        with open(args[1], 'w') as f:
            f.write(HEADER + '\n'.join(found) + '\n')
        print('%s: %d registrations written' % (args[1], len(found)))
        return 0
    with open(args[1]) as f:
        expected = manifest(f.read())
    if found == expected:
        if len(args) == 3:
            open(args[2], 'w').close()
        return 0
    import difflib
    print('%s: the registrations of %s differ from the snapshot' % (args[1], args[0]))
    for line in difflib.unified_diff(expected, found, 'snapshot', 'generated', lineterm='', n=2):
        print(line)
    print('If the change is meant, take it with:\n  %s %s %s %s --update' % (sys.executable, sys.argv[0], args[0], args[1]))
    return 1


if __name__ == '__main__':
    sys.exit(main())
