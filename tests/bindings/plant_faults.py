#!/usr/bin/env python3
"""Plants faults in the bindings' sources one at a time and counts those the binding tests
catch: a measure of the tests, not a test itself (each fault costs a build).

Faults, drawn with a seed from every place of bindings/ where they apply, each kind with
the same chance:
  swap     two adjacent arguments of a call in the hand-written C++ change places
  default  a default of a package file or a hand-written header changes (a number by
           one, a boolean flips, a text gains a letter); one behaviour.txt does not list
           (a default the scripts' contract leaves open) is marked "(unspecified)"
  delete   one statement of the hand-written C++ is deleted
For each: the file is changed, the binding tests' programs are built (a fault that does
not compile is left out and counted apart), the binding tests run, and the file is put
back. A fault is caught when the build's registration check or any test fails.

--known plants instead the faults named in KNOWN below, which the tests must catch.

usage: plant_faults.py [--seed N] [--count N] [--build DIR] [--jobs N] [--known] [--list]
Run from anywhere in the source tree, with the build folder configured and built. The
sources are put back after every fault and when interrupted; the last build is redone.
"""
import argparse
import os
import random
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TARGETS = ['bindings_lua_runner', 'bindings_frame_test', 'bindings_math_test', 'bindings_engine_core_test',
           'bindings_entity_replication_test', 'bindings_input_test', 'bindings_leaderboards_broker_test',
           'bindings_multiplayer_lobby_names_test', 'engine_script_lua_bindings_test', 'bindings_registrations']
# The binding tests, less the fuzz targets' replays (their corpora find crashes, not faults).
TESTS = r'^(bindings_|engine_script_lua_bindings_test)'
EXCLUDE = r'_fuzz$'

# Faults that once went unseen: (what, file, text, replacement).
KNOWN = [
    ('Entity:ReplicateAnimEnable no longer reaches a live entity', 'bindings/EntityBindings.cpp',
     'if (self) self->ReplicateAnimEnable(animIndex, progressIndex);',
     'if (self && animIndex == progressIndex + 1000) self->ReplicateAnimEnable(animIndex, progressIndex);'),
    ('UITextBase:SetShadowPosition does nothing', 'bindings/manual/UI.cpp',
     '    self->SetShadowPosition(Vector(x, y, z, 0));\n', ''),
    ('Mesh:SetLocalColor rounds every byte one step low', 'bindings/EntityBindings.cpp',
     'return static_cast<uint8_t>(v * 255.0f + 0.5f);', 'return static_cast<uint8_t>(v * 255.0f - 0.5f);'),
    ('Game:IsTapWithinUIElement is true for any tap', 'bindings/EngineBindings.cpp',
     'return element && self->IsTapWithinUIElement(tap, screen, element);', 'return element != nullptr;'),
    ('IsOfClass leaves a string on the stack for a class with bases', 'bindings/frame/LuaBindingSupport.cpp',
     '        lua_pop(L, 1);\n    }\n    lua_pop(L, 2);\n    return found;',
     '        lua_pop(L, 1);\n    }\n    lua_pop(L, 1);\n    return found;'),
    ('A cut table is warned about at every call', 'bindings/game/ScriptFunctions.cpp',
     '    if (warned) return;\n    warned = true;\n', '    if (warned) return;\n'),
    ('The class an object is pushed under leaves the stack unbalanced for an unknown class',
     'bindings/frame/LuaBindingSupport.cpp',
     '    if (!lua_istable(L, top + 1) || !lua_istable(L, top + 2)) {\n        lua_settop(L, top);\n',
     '    if (!lua_istable(L, top + 1) || !lua_istable(L, top + 2)) {\n'),
]


def sources():
    out = []
    for folder, _, files in os.walk(os.path.join(ROOT, 'bindings')):
        for name in sorted(files):
            if name.endswith(('.cpp', '.h', '.pkg')):
                out.append(os.path.relpath(os.path.join(folder, name), ROOT))
    return sorted(out)


def split_args(text):
    """Top-level arguments of a call's argument text, or None when unbalanced."""
    parts, depth, current = [], 0, ''
    for ch in text:
        if ch in '([{':
            depth += 1
        elif ch in ')]}':
            depth -= 1
            if depth < 0:
                return None
        if ch == ',' and depth == 0:
            parts.append(current)
            current = ''
        else:
            current += ch
    if depth != 0:
        return None
    return parts + [current]


def calls(line):
    """(start, end) of the argument text of each call on the line."""
    spans = []
    for m in re.finditer(r'\b\w+\s*\(', line):
        start, depth = m.end(), 1
        for i in range(start, len(line)):
            depth += {'(': 1, ')': -1}.get(line[i], 0)
            if depth == 0:
                spans.append((start, i))
                break
    return spans


def in_body(lines, index):
    """Whether the line lies inside a function body (brace depth of a .cpp at least 1
    past its namespace)."""
    depth = 0
    for line in lines[:index]:
        code = line.split('//')[0]
        if re.match(r'^\s*namespace\b', code):
            continue
        depth += code.count('{') - code.count('}')
    return depth >= 1


def owner_of(lines, index):
    """The class a package file's line lies in ('-' for none)."""
    owner = '-'
    for line in lines[:index]:
        m = re.match(r'^\s*(?:class|struct)\s+(\w+)', line)
        if m:
            owner = m.group(1)
        elif re.match(r'^\s*};', line):
            owner = '-'
    return owner


_SPECIFIED = None


def specified(owner, code, at, value):
    """Whether behaviour.txt gives the default of the package declaration's argument that
    ends at `at` (the defaults scripts rely on): those a wrong value would contradict."""
    global _SPECIFIED
    if _SPECIFIED is None:
        _SPECIFIED = set()
        for line in open(os.path.join(ROOT, 'tests', 'bindings', 'behaviour.txt'), encoding='utf-8'):
            words = line.split('#')[0].split()
            if len(words) >= 4 and words[0] == 'default':
                _SPECIFIED.add((words[1], words[2], words[3]))
    m = re.match(r'^\s*(?:static\s+)?(?:tolua_outside\s+)?.*?(\w+)\s*(?:@\s*(\w+))?\s*\(', code)
    if not m:
        return False
    name = m.group(2) or m.group(1)
    if name == owner:
        name = 'new'
    index = code[code.index('(', m.start()) + 1:at].count(',') + 1
    number = value not in ('true', 'false') and not value.startswith('"')
    return (owner, name, str(index)) in _SPECIFIED or (number and (owner, name, '*') in _SPECIFIED)


def candidates(files):
    """{kind: [(file, line index, new line, description)]}."""
    found = {'swap': [], 'default': [], 'delete': []}
    for path in files:
        lines = open(os.path.join(ROOT, path), encoding='utf-8').read().split('\n')
        for i, line in enumerate(lines):
            code = line.split('//')[0]
            stripped = code.strip()
            if not stripped or stripped.startswith(('#', '$')):
                continue
            owner = owner_of(lines, i) if path.endswith('.pkg') else None
            if path.endswith('.pkg') or path.endswith('.h'):
                for m in re.finditer(r'(?<![!=<>])=\s*(-?[0-9.]+f?|true|false|"[^"]*")(?=\s*[,)])', code):
                    # A default lies in a parameter list (an enumerator's value is no default).
                    if code[:m.start()].count('(') <= code[:m.start()].count(')'):
                        continue
                    value = m.group(1)
                    if value in ('true', 'false'):
                        new = 'false' if value == 'true' else 'true'
                    elif value.startswith('"'):
                        new = value[:-1] + 'x"'
                    elif '.' in value:
                        new = repr(float(value.rstrip('f')) + 1) + ('f' if value.endswith('f') else '')
                    else:
                        new = str(int(value) + 1)
                    text = line[:m.start(1)] + new + line[m.end(1):]
                    what = 'default %s -> %s' % (value, new)
                    if owner is not None and not specified(owner, code, m.start(), value):
                        what += ' (unspecified)'
                    found['default'].append((path, i, text, what))
            if not path.endswith('.cpp') or not in_body(lines, i):
                continue
            for start, end in calls(code):
                args = split_args(code[start:end])
                if not args or len(args) < 2:
                    continue
                for a in range(len(args) - 1):
                    if args[a].strip() == args[a + 1].strip():
                        continue
                    swapped = list(args)
                    for x, y in ((a, a + 1), (a + 1, a)):
                        lead = args[x][:len(args[x]) - len(args[x].lstrip())]
                        trail = args[x][len(args[x].rstrip()):]
                        swapped[x] = lead + args[y].strip() + trail
                    text = line[:start] + ','.join(swapped) + line[end:]
                    found['swap'].append((path, i, text, 'swap %s, %s' % (args[a].strip(), args[a + 1].strip())))
            if stripped.endswith(';') and not stripped.startswith(('return', 'case', 'break', 'default', '}')) \
                    and split_args(stripped) is not None and not re.match(r'^(const\s+)?[\w:<>]+[\s*&]+\w+\s*(=|\{|;)', stripped):
                found['delete'].append((path, i, None, 'delete'))
    return found


def run(command, log):
    with open(log, 'a') as f:
        f.write('$ %s\n' % ' '.join(command))
        f.flush()
        return subprocess.call(command, cwd=ROOT, stdout=f, stderr=subprocess.STDOUT)


def failed_tests(build, log):
    out = subprocess.run(['ctest', '--test-dir', build, '-R', TESTS, '-E', EXCLUDE, '-j', '3', '--timeout', '240'],
                         cwd=ROOT, capture_output=True, text=True)
    with open(log, 'a') as f:
        f.write(out.stdout[-4000:])
    return re.findall(r'\d+ - (\S+) \((?:Failed|Timeout|SEGFAULT|Subprocess aborted|Child aborted|Exception)', out.stdout)


def try_fault(path, change, args, log):
    full = os.path.join(ROOT, path)
    original = open(full, encoding='utf-8').read()
    try:
        changed = change(original)
        if changed == original:
            return 'unchanged', []
        with open(full, 'w', encoding='utf-8') as f:
            f.write(changed)
        if run(['cmake', '--build', args.build, '-j', str(args.jobs), '--target'] + TARGETS, log) != 0:
            # A registration change fails the build's snapshot check: caught. Anything else
            # did not compile.
            text = open(log, encoding='utf-8').read()
            tail = text[text.rfind('$ cmake'):]
            return ('caught', ['registration snapshot']) if 'differ from the snapshot' in tail else ('not compiled', [])
        failures = failed_tests(args.build, log)
        return ('caught' if failures else 'survived'), failures
    finally:
        with open(full, 'w', encoding='utf-8') as f:
            f.write(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--seed', type=int, default=1)
    parser.add_argument('--count', type=int, default=20)
    parser.add_argument('--build', default=os.path.join(ROOT, 'build'))
    parser.add_argument('--jobs', type=int, default=3)
    parser.add_argument('--known', action='store_true')
    parser.add_argument('--list', action='store_true', help='print the places and leave the sources alone')
    args = parser.parse_args()
    log = os.path.join(args.build, 'plant_faults.log')
    open(log, 'w').close()

    faults = []
    if args.known:
        for what, path, text, replacement in KNOWN:
            faults.append((path, what, lambda s, t=text, r=replacement: s.replace(t, r, 1) if s.count(t) == 1 else s))
    else:
        found = candidates(sources())
        if args.list:
            for kind in found:
                print('%s: %d places' % (kind, len(found[kind])))
            return 0
        rng = random.Random(args.seed)
        chosen = set()
        while len(faults) < args.count:
            kind = rng.choice(sorted(found))
            path, i, text, what = rng.choice(found[kind])
            if (path, i, what) in chosen:
                continue
            chosen.add((path, i, what))

            def change(s, i=i, text=text):
                lines = s.split('\n')
                if text is None:
                    del lines[i]
                else:
                    lines[i] = text
                return '\n'.join(lines)
            faults.append(('%s' % path, '%s:%d %s' % (path, i + 1, what), change))

    counts = {'caught': 0, 'survived': 0, 'not compiled': 0, 'unchanged': 0, 'unspecified': 0}
    try:
        for path, what, change in faults:
            outcome, failures = try_fault(path, change, args, log)
            counts[outcome] += 1
            if outcome == 'survived' and what.endswith('(unspecified)'):
                counts['unspecified'] += 1
            print('%-12s %s%s' % (outcome, what, (' [' + ', '.join(failures[:3]) + ']') if failures else ''),
                  flush=True)
    finally:
        run(['cmake', '--build', args.build, '-j', str(args.jobs), '--target'] + TARGETS, log)
    total = counts['caught'] + counts['survived']
    specified = total - counts['unspecified']
    print('seed %s: %d of %d caught (%.2f); %d of %d (%.2f) leaving out the %d surviving changes of defaults '
          'behaviour.txt does not list; %d did not compile, %d changed nothing; log %s' % (
              'known' if args.known else args.seed, counts['caught'], total, counts['caught'] / total if total else 0,
              counts['caught'], specified, counts['caught'] / specified if specified else 0, counts['unspecified'],
              counts['not compiled'], counts['unchanged'], log))
    return 0 if counts['survived'] == 0 or not args.known else 1


if __name__ == '__main__':
    sys.exit(main())
