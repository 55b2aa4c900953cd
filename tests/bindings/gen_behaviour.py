#!/usr/bin/env python3
"""Writes the behaviour cases of the binding packages: what their bound functions do, not
only that they answer (gen_calls.py does that).

From each package file's declarations, its registration snapshot's classes and the cases
of behaviour.txt, the script checks for every class:
  * round trips: each setter (SetX with GetX, IsX or X; a Set inside a name with its Get,
    MPPropSetInt with MPPropGetInt; a form named with its argument count, SetScale3, as
    SetScale; or a "pair" line, whose getter may be a Lua function reading the native
    side) takes two sets of distinct values in turn (three where a call has three to six
    booleans), and its getter gives each back in order. A getter that takes the setter's
    leading arguments (an index, a name) is called with them and gives back the rest.
    Numbers are exact in a 32-bit float, integers for integer parameters, booleans change
    between rounds and no two of a call are equal in every round, objects are fresh ones
    and maths values have distinct contents, so a swapped, dropped or rounded argument, a
    setter that does nothing and a getter that reads the wrong field all show;
  * defaults: for each "default" line, the package's default is the one listed, and
    where the function is a setter with a getter, leaving the argument out gives what
    passing the listed value gives;
  * read-only functions: every const method of the class, called with valid arguments,
    leaves what the class's getters read unchanged, and a maths value answered by
    constant reference is the script's copy;
  * probes: the "probe" lines, which read a function's effect back through the native
    side (the runner's Fixture and Peek tables) where no bound getter does.
A setter the round trip cannot reach is named with its reason by an "unreached" line.
A function's arguments count as checked in order only where a round trip or a probe reads
them back, form by form (a read-only or default case runs a function without reading its
arguments); every other form of two or more arguments, and every setter form, is listed
with its reason (and the hand-written cases that call it) in the generated table beside
the script (OUTPUT with .lua replaced by _unreached.txt).

usage: gen_behaviour.py BEHAVIOUR.txt OUTPUT.lua SNAPSHOT.txt PACKAGE.pkg [SNAPSHOT.txt PACKAGE.pkg ...]
All the packages' cases go to one script, run by one test.
The script runs under bindings_lua_runner (lua/assert.lua, the Runner and Fixture tables).
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_calls  # noqa: E402

INTEGER_TYPES = {'int', 'unsigned int', 'unsigned', 'short', 'unsigned short', 'char', 'unsigned char', 'long',
                 'unsigned long', 'int32_t', 'uint32_t', 'int16_t', 'uint16_t', 'uint8_t', 'int8_t'}
# Value classes the round trip makes and reads component by component.
VALUE_CLASSES = {'Vector': 4, 'Vector3': 3}
SIMPLE = ('number', 'boolean', 'string')
# Value classes made with distinct contents (read back whole by the flattening of Same).
MADE = {
    'Matrix': 'Made.Matrix(%s, %s, %s)',
    'BoundingBox4': 'Made.Box(%s, %s, %s)',
    'SimpleGUID': 'Made.GUID()',
}


def param_base(text):
    base = re.sub(r'\bconst\b|[\*&]', ' ', text.split('=')[0])
    words = ' '.join(base.split()).split(' ')
    return ' '.join(words[:-1]) if len(words) > 1 else words[0]


def read_package(path):
    """{class: {name: [form]}}, each form with .params (kind, integer, default text),
    .const and .static; the generator's own reading plus what it leaves out."""
    forms = gen_calls.read_package(path)
    owner = '-'
    seen = {}
    for line in open(path, encoding='utf-8'):
        line = line.split('//')[0]
        if line.startswith('$'):
            continue
        match = gen_calls.CLASS.match(line)
        if match:
            owner = match.group(1)
            continue
        if re.match(r'^\s*};', line):
            owner = '-'
            continue
        constructor = re.match(r'^\s*(\w+)\s*\((?P<params>[^)]*)\)\s*;', line)
        match = gen_calls.DECLARATION.match(line)
        if constructor and constructor.group(1) == owner:
            # A constructor's forms are new and new_local.
            names, raw = ['new', 'new_local'], constructor.group('params')
        elif match and not match.group('native').startswith('operator') and match.group('ret').strip():
            names, raw = [match.group('name') or match.group('native')], match.group('params')
        else:
            continue
        raw = raw.strip()
        raw = [p.strip() for p in raw.split(',')] if raw and raw != 'void' else []
        for name in names:
            index = seen.get((owner, name), 0)
            seen[(owner, name)] = index + 1
            form = forms[owner][name][index]
            form.const = bool(re.search(r'\)\s*const\s*;', line))
            form.const_view = bool(match and re.match(r'^\s*const\b', match.group('ret')) and '&' in match.group('ret'))
            for param, text in zip(form.params, raw):
                param.integer = param_base(text) in INTEGER_TYPES
                param.unsigned = param_base(text).startswith('unsigned') or param_base(text).startswith('uint')
                param.default = text.split('=', 1)[1].strip() if '=' in text else None
    for block in forms.values():
        for fl in block.values():
            for f in fl:
                if not hasattr(f, 'const'):
                    f.const = False
                if not hasattr(f, 'const_view'):
                    f.const_view = False
                for p in f.params:
                    for attr in ('integer', 'unsigned'):
                        if not hasattr(p, attr):
                            setattr(p, attr, False)
                    if not hasattr(p, 'default'):
                        p.default = None
    return forms


def read_cases(path, package, classes):
    cases = {'helper': [], 'pair': {}, 'value': {}, 'back': {}, 'ask': {}, 'on': {}, 'default': [], 'readonly': set(), 'unreached': {}, 'probe': []}
    for raw in open(path, encoding='utf-8'):
        line = raw.rstrip('\n')
        if line.lstrip().startswith('#') or not line.strip():
            continue
        words = line.split()
        kind = words[0]
        if kind in ('probe', 'helper'):
            if words[1] != package:
                continue
            head, code = line.split('|', 1)
            cases[kind].append((' '.join(head.split()[2:]), code.strip()))
            continue
        if kind == 'constant' or len(words) < 3 or words[1] not in classes:
            continue
        owner, name = words[1], words[2]
        if kind == 'pair':
            cases['pair'][(owner, name)] = ' '.join(words[3:])
        elif kind in ('value', 'back', 'ask'):
            cases[kind][(owner, name)] = [split_arguments(r) for r in ' '.join(words[3:]).split(';')]
        elif kind == 'on':
            cases['on'][(owner, name)] = ' '.join(words[3:])
        elif kind == 'default':
            # A constructor's default holds for both its forms.
            for form_name in (['new', 'new_local'] if name == 'new' else [name]):
                cases['default'].append((owner, form_name, words[3], ' '.join(words[4:])))
        elif kind == 'readonly':
            cases['readonly'].add((owner, name))
        elif kind == 'unreached':
            cases['unreached'][(owner, name)] = ' '.join(words[3:])
    return cases


def split_arguments(text):
    """Lua expressions separated by top-level commas."""
    parts, depth, current = [], 0, ''
    for ch in text:
        depth += ch in '({' and 1 or 0
        depth -= ch in ')}' and 1 or 0
        if ch == ',' and depth == 0:
            parts.append(current.strip())
            current = ''
        else:
            current += ch
    return parts + [current.strip()] if current.strip() else parts


# The values of a call's boolean arguments, round by round: each changes between rounds and
# no two are equal in every round (two rounds for up to two booleans, three for up to six).
BOOLEAN_ROUNDS = {2: [(True, False), (False, True)],
                  3: [(True, False, False), (False, True, False), (False, False, True),
                      (True, True, False), (True, False, True), (False, True, True)]}


def boolean_rounds(params):
    """How many rounds keep the call's booleans apart, or None where none does."""
    count = sum(1 for p in params if p.kind == 'boolean')
    for rounds in sorted(BOOLEAN_ROUNDS):
        if count <= len(BOOLEAN_ROUNDS[rounds]):
            return rounds
    return None


def value_of(param, round_, position, params=None):
    """A Lua expression of a distinct value for the parameter: every position of a call
    differs from every other, and (given the call's params) so does every boolean over the
    rounds."""
    k = position + 1 + 8 * round_
    if param.kind == 'number':
        # Integers small enough for any byte or index; fractions exact in a float.
        return str(position + 2 + round_) if param.integer else repr(k / 16.0)
    if param.kind == 'boolean':
        if params is None:
            return 'true' if (position + round_) % 2 == 0 else 'false'
        index = sum(1 for p in params[:position] if p.kind == 'boolean')
        return 'true' if BOOLEAN_ROUNDS[boolean_rounds(params)][index][round_] else 'false'
    if param.kind == 'string':
        return '"v%d"' % k
    if param.kind in MADE:
        return MADE[param.kind] % tuple(repr((k + i) / 16.0) for i in range(MADE[param.kind].count('%')))
    if param.kind not in VALUE_CLASSES:
        return 'Fresh("%s")' % param.kind
    size = VALUE_CLASSES[param.kind]
    parts = [repr((k + i) / 16.0) for i in range(size)]
    return '%s:Instance(%s)' % (param.kind, ', '.join(parts))


def makeable(kind, classes):
    """Whether the round trip can make an argument of the kind."""
    return kind in SIMPLE or kind in VALUE_CLASSES or kind in classes


def round_trippable(form, classes):
    return form.params and all(makeable(p.kind, classes) for p in form.params)


def getter_for(owner, setter, block, cases, form):
    """The getter's name in the class, a Lua function of the object (a "pair" line), or
    None: SetX pairs with GetX, IsX or X, a Set inside a name with its Get (MPPropSetInt,
    MPPropGetInt), and a form named with its argument count (SetLocalPosition3) as the
    plain name."""
    pair = case_of(cases, 'pair', owner, setter, form)
    if pair:
        return pair
    if 'Set' not in setter:
        return None
    before, after = setter.split('Set', 1)
    bases = [after, after.rstrip('0123456789')] if setter.startswith('Set') else []
    names = [before + 'Get' + after] if before else []
    for base in bases:
        names += ['Get' + base, 'Is' + base, base]
    for name in names:
        if name and name in block:
            return name
    return None


def case_of(cases, kind, owner, setter, form):
    """A per-setter line of the kind: for the form of these argument kinds (SetScale/number),
    of that many arguments (SetScale/3), or for every form."""
    kinds = ','.join(p.kind for p in form.params)
    for key in ((owner, '%s/%s' % (setter, kinds)), (owner, '%s/%d' % (setter, len(form.params))), (owner, setter)):
        if key in cases[kind]:
            return cases[kind][key]
    return None


def self_call(owner, form, name, args, obj='o'):
    if owner == '-':
        return '%s(%s)' % (name, ', '.join(args))
    first = owner if form.static else obj
    return '%s.%s(%s)' % (owner, name, ', '.join([first] + args))


def lua_string(text):
    return gen_calls.lua_string(text)


def round_trip_cases(owner, block, cases, out, reached, classes):
    for setter in sorted(block):
        for index, form in enumerate(block[setter]):
            arity = len(form.params)
            getter = getter_for(owner, setter, block, cases, form)
            if not getter:
                continue
            if case_of(cases, 'unreached', owner, setter, form) is not None:
                continue
            if not round_trippable(form, classes) or boolean_rounds(form.params) is None:
                continue
            if getter in block:
                # The getter form that takes the setter's leading arguments, fewest first.
                gforms = [g for g in block[getter] if len(g.params) < arity and
                          [p.kind for p in g.params] == [p.kind for p in form.params[:len(g.params)]]]
                if not gforms:
                    continue
                gform = min(gforms, key=lambda g: len(g.params))
                lead = len(gform.params)

                def read(ask, gform=gform, getter=getter):
                    return self_call(owner, gform, getter, ask)
            else:
                # A Lua function of the object ("." for the object itself).
                lead = 0

                def read(ask, getter=getter):
                    return 'o' if getter == '.' else '(%s)(%s)' % (getter, ', '.join(['o'] + ask))
            title = '%s:%s(%s) read back by %s' % (owner, setter, ', '.join(p.kind for p in form.params),
                                                   getter if getter in block else 'the native side')
            out.append('Test(%s, function()' % lua_string(title))
            out.append('    local o = %s' % (case_of(cases, 'on', owner, setter, form) or 'Fresh("%s")' % owner))
            values, back, ask = (case_of(cases, k, owner, setter, form) for k in ('value', 'back', 'ask'))
            rounds = len(values or back or ask or []) or boolean_rounds(form.params)
            for round_ in range(rounds):
                # The arguments are made once, so objects compare as themselves.
                made = values[round_] if values else [value_of(p, round_, i, form.params)
                                                      for i, p in enumerate(form.params)]
                args = ['a%d' % (i + 1) for i in range(len(made))]
                out.append('    do')
                out.append('        local %s = %s' % (', '.join(args), ', '.join(made)))
                out.append('        %s' % self_call(owner, form, setter, args))
                out.append('        Same({%s}, {%s}, %s)' % (read(ask[round_] if ask else args[:lead]),
                                                            ', '.join(back[round_] if back else args[lead:]),
                                                            lua_string('round %d' % (round_ + 1))))
                out.append('    end')
            out.append('end)')
            reached[(owner, setter, index)] = 'round trip'


def getters_of(owner, block):
    """The zero-argument getters of the class whose results compare."""
    names = []
    for name in sorted(block):
        if not re.match(r'^(Get|Is|Has|Can)[A-Z]', name):
            continue
        for f in block[name]:
            if not f.params and not f.static and (f.result in SIMPLE or f.result in VALUE_CLASSES):
                names.append(name)
                break
    return names


def readonly_cases(owner, block, cases, out, reached):
    if owner == '-':
        return
    getters = getters_of(owner, block)
    calls = []
    for name in sorted(block):
        for index, form in enumerate(block[name]):
            if form.static or not (form.const or (owner, name) in cases['readonly']):
                continue
            if not all(p.kind in SIMPLE or p.kind in VALUE_CLASSES for p in form.params):
                continue
            args = [value_of(p, 0, i) for i, p in enumerate(form.params)]
            calls.append(((owner, name, index), self_call(owner, form, name, args)))
    if not calls or not getters:
        return
    for key, _ in calls:
        reached.setdefault(key, 'read-only')
    calls = [c for _, c in calls]
    out.append('Test(%s, function()' % lua_string(owner + ': read-only functions leave the object unchanged'))
    out.append('    local o = Fresh("%s")' % owner)
    out.append('    local getters = {%s}' % ', '.join(lua_string(g) for g in getters))
    out.append('    local before = State(o, getters)')
    for c in calls:
        out.append('    %s' % c)
        out.append('    SameState(before, State(o, getters), %s)' % lua_string(c))
    out.append('end)')


def view_cases(owner, block, out, reached):
    """A maths value a function answers by constant reference is the script's copy:
    changing it leaves what the function answers next unchanged."""
    if owner == '-':
        return
    lines = []
    for name in sorted(block):
        for index, form in enumerate(block[name]):
            if form.static or form.params or not form.const_view or form.result not in ('Vector', 'Matrix', 'BoundingBox4'):
                continue
            lines.append('    Unchanged(o, %s)' % lua_string(name))
            reached.setdefault((owner, name, index), 'read-only')
    if lines:
        out.append('Test(%s, function()' % lua_string(owner + ': changing a constant result leaves the object unchanged'))
        out.append('    local o = Fresh("%s")' % owner)
        out += lines
        out.append('end)')


def normalise(value):
    value = value.strip()
    if value in ('NULL', 'nil', '0x0'):
        return 'nil'
    try:
        number = float(int(value, 0)) if re.match(r'^-?(0x)?[0-9a-fA-F]+$', value) else float(value.rstrip('fF'))
        return repr(number)
    except ValueError:
        return value


def default_cases(forms, cases, out, reached):
    expanded = []
    for owner, name, index, value in cases['default']:
        if index != '*':
            expanded.append((owner, name, int(index), value))
            continue
        # Every defaulted number argument of every form.
        indices = sorted({i + 1 for f in forms.get(owner, {}).get(name, []) for i, p in enumerate(f.params)
                          if p.default and p.kind == 'number'})
        if not indices:
            expanded.append((owner, name, 1, value))
        expanded += [(owner, name, i, value) for i in indices]
    for owner, name, index, value in expanded:
        block = forms.get(owner, {})
        candidates = [f for f in block.get(name, []) if len(f.params) >= index and f.params[index - 1].default]
        title = '%s:%s argument %d defaults to %s' % (owner, name, index, value)
        out.append('Test(%s, function()' % lua_string(title))
        if not candidates:
            out.append('    error("the package declares no default there")')
            out.append('end)')
            continue
        form = candidates[0]
        for f in candidates:
            out.append('    AssertEqual(%s, %s, "the package\'s default")'
                       % (lua_string(normalise(f.params[index - 1].default)), lua_string(normalise(value))))
        getter = getter_for(owner, name, block, cases, form)
        gforms = [g for g in block.get(getter, []) if not g.params] if getter else []
        if gforms and all(p.kind in SIMPLE or p.kind in VALUE_CLASSES for p in form.params[:index - 1]):
            args = [value_of(p, 0, i) for i, p in enumerate(form.params[:index - 1])]
            out.append('    local o = Fresh("%s")' % owner)
            out.append('    %s' % self_call(owner, form, name, args + [value]))
            out.append('    local given = {%s}' % self_call(owner, gforms[0], getter, []))
            out.append('    %s' % self_call(owner, form, name, [value_of(p, 1, i) for i, p in enumerate(form.params[:index])]))
            out.append('    %s' % self_call(owner, form, name, args))
            out.append('    Same({%s}, given, "left out")' % self_call(owner, gforms[0], getter, []))
        out.append('end)')
        for index, f in enumerate(block.get(name, [])):
            if f in candidates:
                reached.setdefault((owner, name, index), 'default')


PRELUDE = '''
-- Values of the maths classes with distinct contents.
Made = {}
function Made.Matrix(x, y, z)
    local m = Matrix:Instance()
    m:LoadTranslation(x, y, z)
    m.v[0].x = x * 2
    return m
end
function Made.GUID()
    local g = SimpleGUID:Instance()
    g:Generate()
    return g
end
function Made.Box(x, y, z)
    local b = BoundingBox4:Instance()
    b:Set(Vector:Instance(-x, -y, -z, 0), Vector:Instance(x, y * 2, z * 3, 0))
    return b
end

-- Flattens values to numbers, booleans, strings and engine objects (a vector gives its
-- components, a matrix its rows, a box its corners).
local function flat(values)
    local out = {}
    local function add(v)
        local kind = type(v) == "userdata" and tolua.type(v)
        if kind == "Vector" or kind == "const Vector" then
            add(v.x); add(v.y); add(v.z); add(v.w)
        elseif kind == "Vector3" or kind == "const Vector3" then
            add(v.x); add(v.y); add(v.z)
        elseif kind == "Matrix" or kind == "const Matrix" then
            for i = 0, 3 do add(v.v[i]) end
        elseif kind == "BoundingBox4" or kind == "const BoundingBox4" then
            add(v:GetMin()); add(v:GetMax())
        elseif kind == "SimpleGUID" or kind == "const SimpleGUID" then
            add(v:ToStringUnsafe())
        else
            out[#out + 1] = v
        end
    end
    for i = 1, table.maxn(values) do add(values[i]) end
    return out
end

local function show(list)
    local parts = {}
    for i, v in ipairs(list) do parts[i] = tostring(v) end
    return "(" .. table.concat(parts, ", ") .. ")"
end

-- The getter's results begin with the values given, in order (numbers within a 32-bit
-- float's step).
function Same(got, given, what)
    local g, w = flat(got), flat(given)
    for i = 1, math.max(#w, table.maxn(w)) do
        local ok = g[i] == w[i] or (type(g[i]) == "number" and type(w[i]) == "number" and
                                    math.abs(g[i] - w[i]) <= 1e-6 * math.max(1, math.abs(w[i])))
        if not ok then
            error(what .. ": read back " .. show(g) .. ", expected " .. show(w), 2)
        end
    end
end

-- Changes the value the named function answers (a copy the script holds), then asks again:
-- the answer is what it was.
function Unchanged(o, name)
    local before = State(o, {name})
    local v = o[name](o)
    local kind = tolua.type(v):gsub("^const ", "")
    if kind == "Vector" then
        pcall(function() v.x = v.x + 100; v.w = v.w - 100 end)
    elseif kind == "Matrix" then
        pcall(function() v.v[0].x = v.v[0].x + 100; v.v[3].z = v.v[3].z - 100 end)
    elseif kind == "BoundingBox4" then
        pcall(function() v:Expand(Vector:Instance(1000, -1000, 1000, 0)) end)
    end
    SameState(before, State(o, {name}), name .. "'s answer, changed by the script")
end

-- What the named getters read from the object, as one string per getter.
function State(o, getters)
    local state = {}
    for _, name in ipairs(getters) do
        local results = {pcall(o[name], o)}
        state[name] = show(flat({select(2, unpack(results))}))
    end
    return state
end

function SameState(before, after, what)
    for name, value in pairs(before) do
        if after[name] ~= value then
            error(what .. " changed " .. name .. ": " .. value .. " -> " .. after[name], 2)
        end
    end
end
'''


# The script host's table of global objects (name, class).
SINGLETONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'engine', 'script', 'LuaWrapper.cpp')


class HandWritten:
    """The hand-written Lua cases, asked which of them call a class's function: by the
    class's name (Class.Name, Class:Name), or on an object (o:Name) in a case that names
    the class, a class derived from it or its global object (gGame, or one of the script
    host's SINGLETONS); a global function by its bare name."""

    def __init__(self, folder, bases):
        singletons = {}
        if os.path.exists(SINGLETONS):
            singletons = dict(re.findall(r'\{"(g\w+)", "(\w+)"', open(SINGLETONS, encoding='utf-8').read()))
        self.cases = []
        for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
            if name.endswith('.lua') and name != 'assert.lua':
                text = open(os.path.join(folder, name), encoding='utf-8').read()
                words = set(re.findall(r'\w+', text))
                words |= {singletons.get(w, w[1:]) for w in words if re.match(r'^g[A-Z]', w)}
                self.cases.append((name, text, words))
        self.bases = bases

    def kin(self, owner):
        """The class and every class derived from it."""
        found, grew = {owner}, True
        while grew:
            more = {c for c, base in self.bases.items() if base in found} - found
            found |= more
            grew = bool(more)
        return found

    def callers(self, owner, name):
        if owner == '-':
            bare = re.compile(r'(?<![\w.:])%s\s*\(' % re.escape(name))
            return [case for case, text, _ in self.cases if bare.search(text)]
        named = re.compile(r'\b%s[.:]%s\s*\(' % (re.escape(owner), re.escape(name)))
        on_object = re.compile(r'[.:]%s\s*\(' % re.escape(name))
        kin = self.kin(owner)
        return [case for case, text, words in self.cases
                if named.search(text) or (on_object.search(text) and kin & words)]


# Why a function the cases call does not count as reached: its arguments are never read back.
CALLED_ONLY = {
    'read-only': 'only the read-only check calls it; nothing reads its arguments back',
    'default': 'only its default is checked; nothing reads its arguments back',
}


def is_setter(name):
    """Set, SetX, and a Set inside a name (MPPropSetInt), but not GetSetName or RemoveFromSet."""
    return name == 'Set' or re.search(r'(?<!Get)Set[A-Z0-9]', name) is not None


def unreached_table(forms, reached, cases, classes, callers):
    """Each form of two or more arguments, and each setter form, whose arguments no round
    trip or probe reads back, with the reason; forms of a name with several are named with
    their argument kinds."""
    rows = []
    for owner in sorted(forms):
        block = forms[owner]
        for name in sorted(block):
            for index, form in enumerate(block[name]):
                if reached.get((owner, name, index)) in ('round trip', 'probe'):
                    continue
                reason = case_of(cases, 'unreached', owner, name, form)
                if reason is None:
                    setter = is_setter(name) and form.params
                    if len(form.params) < 2 and not setter:
                        continue
                    kinds = sorted({p.kind for p in form.params if not makeable(p.kind, classes)})
                    getter = getter_for(owner, name, block, cases, form) if setter else None
                    if kinds:
                        reason = 'takes %s, which no case makes' % ', '.join(kinds)
                    elif boolean_rounds(form.params) is None:
                        reason = 'takes more booleans than the rounds keep apart'
                    elif reached.get((owner, name, index)) in CALLED_ONLY:
                        reason = CALLED_ONLY[reached[(owner, name, index)]]
                    elif getter in block:
                        reason = 'its getter %s takes other arguments than its leading ones' % getter
                    elif setter:
                        reason = 'a setter with no bound getter or probe to read its argument%s back' % (
                            's' if len(form.params) > 1 else '')
                    else:
                        reason = 'no bound getter or probe reads its arguments back'
                called_by = callers.callers(owner, name)
                if called_by:
                    reason += ' (called by %s)' % ', '.join(called_by)
                label = name
                if len(forms[owner][name]) > 1:
                    label += '/' + (','.join(p.kind for p in form.params) or 'none')
                rows.append((owner, label, reason))
    return rows


def probe_reaches(title, forms, reached):
    """Marks the forms a probe names as reached: "Class:Name" (or "Name" for a global
    function) reaches every form of the name, "Class:Name/number,number" the form of those
    argument kinds and "Class:Name/3" the forms of three arguments."""
    words = title.split()
    owner, _, name = words[0].rpartition(':') if words else ('', '', '')
    owner = owner or '-'
    name, _, only = name.partition('/')
    for index, form in enumerate(forms.get(owner, {}).get(name, [])):
        kinds = ','.join(p.kind for p in form.params)
        if not only or only in (kinds, str(len(form.params))):
            reached[(owner, name, index)] = 'probe'


def main():
    if len(sys.argv) < 5 or len(sys.argv) % 2 == 0:
        sys.exit(__doc__)
    behaviour, output = sys.argv[1:3]
    pairs = list(zip(sys.argv[3::2], sys.argv[4::2]))
    body, declared_all, table = [], [], []
    declared_of, bases = {}, {}
    for snapshot, _ in pairs:
        lines = [line.split() for line in open(snapshot, encoding='utf-8') if line.startswith('class ')]
        declared_of[snapshot] = [words[1] for words in lines]
        declared_all += [c for c in declared_of[snapshot] if c not in declared_all]
        bases.update((words[1], words[2]) for words in lines if len(words) > 2 and words[2] != '-')
    callers = HandWritten(os.path.join(os.path.dirname(os.path.abspath(behaviour)), 'lua'), bases)
    for snapshot, package_file in pairs:
        package = os.path.splitext(os.path.basename(snapshot))[0]
        forms = read_package(package_file)
        declared = declared_of[snapshot]
        classes = set(declared) | {'-'}
        cases = read_cases(behaviour, package, classes)
        reached = {}
        body.append('-- %s' % package)
        for title, code in cases['helper']:
            body.append('-- %s\n%s' % (title, code))
        for owner in sorted(forms):
            if owner not in classes:
                continue
            round_trip_cases(owner, forms[owner], cases, body, reached, set(declared_all))
            readonly_cases(owner, forms[owner], cases, body, reached)
            view_cases(owner, forms[owner], body, reached)
        default_cases(forms, cases, body, reached)
        for title, code in cases['probe']:
            body.append('Test(%s, function()\n    %s\nend)' % (lua_string(title), code))
            probe_reaches(title, forms, reached)
        table += [(package,) + row for row in unreached_table(forms, reached, cases, set(declared_all), callers)]
    out = ['-- Generated by gen_behaviour.py from the package files and behaviour.txt; do not edit.',
           gen_calls.PRELUDE.split('\n', 2)[2] % ', '.join(lua_string(c) for c in declared_all), PRELUDE]
    out += body
    out.append('Test("delete what new made", DeleteKept)')
    with open(output, 'w', encoding='utf-8') as f:
        f.write('\n'.join(out) + '\n')
    with open(re.sub(r'\.lua$', '', output) + '_unreached.txt', 'w', encoding='utf-8') as f:
        f.write('# The functions of two or more arguments, and the setters, whose arguments the behaviour\n'
                '# cases do not read back, form by form (NAME/KINDS where a name has several), and why.\n'
                '# Generated by gen_behaviour.py.\n')
        for package, owner, name, reason in table:
            f.write('%-18s %-40s %s\n' % (package, owner + ':' + name, reason))
    print('%d behaviour cases; %d functions unreached (%s)' % (sum(1 for l in body if l.startswith('Test(')),
                                                              len(table), re.sub(r'\.lua$', '', output) + '_unreached.txt'))


if __name__ == '__main__':
    main()
