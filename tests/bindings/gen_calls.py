#!/usr/bin/env python3
"""Writes a script of cases that calls everything a binding package registers.

The registration snapshot (registrations/, regcheck.py) gives the package's classes, functions, variables, arrays and constants in
order; the package file gives each function's forms (argument kinds, result kind and
reference results). For every class the script
  * calls each function with valid arguments of its forms' kinds and checks the kind of
    the first result (one of its forms' kinds; no result for void);
  * calls it again with no arguments, and with strings for numbers and numbers for
    objects (rejected, with no results, where its one form takes an object by reference);
  * calls each method with nil, another class's object, a number and a dead engine object
    as self: each is rejected and returns nothing;
  * calls each function whose arguments include numbers with NaN, +-infinity, 1e30,
    negative and huge values (indices among them), and reads each array with negative,
    huge and non-integer indices;
  * reads every variable, and assigning a read-only one raises the read-only error;
and reads every constant of the global module as a number. No call may raise an error
(the read-only assignment and the use of a dead object are the only errors a script
may see), and nothing may crash. A constant whose snapshot line gives a value must read
that value: the values of constants whose generated value is a header's name come from
the "constant" lines of behaviour.txt.

usage: gen_calls.py SNAPSHOT.txt PACKAGE.pkg BEHAVIOUR.txt OUTPUT.lua
The script runs under bindings_lua_runner (lua/assert.lua, the Runner table).
"""
import re
import sys

NUMBER_TYPES = {'float', 'double', 'int', 'unsigned int', 'unsigned', 'short', 'unsigned short', 'char',
                'unsigned char', 'long', 'unsigned long', 'int32_t', 'uint32_t', 'int16_t', 'uint16_t',
                'uint8_t', 'int8_t', 'lua_Number'}
DECLARATION = re.compile(r'^\s*(?P<static>static\s+)?(?:tolua_outside\s+)?(?:tolua_owned\s+)?'
                         r'(?P<ret>[\w:\s\*&]+?)\s*(?P<native>\b\w+|operator\s*\S+?)\s*(?:@\s*(?P<name>\w+))?\s*'
                         r'\((?P<params>[^)]*)\)\s*(?:const)?\s*;')
CLASS = re.compile(r'^\s*(?:class|struct)\s+(\w+)')
SPECIALS = ['0/0', '1/0', '-1/0', '1e30', '-1e30', '-1', '2^31', '2^53', '-2^31 - 1', '0.5']


def kind_of(text):
    """'number', 'boolean', 'string', 'void' or the class name of a declared type."""
    base = re.sub(r'\bconst\b|[\*&]', ' ', text)
    base = ' '.join(base.split())
    if base == 'char' and '*' in text:
        return 'string'
    if base in NUMBER_TYPES:
        return 'number'
    if base == 'bool':
        return 'boolean'
    if base == 'void':
        return 'void'
    return base


class Param:
    def __init__(self, text):
        text = text.strip()
        self.optional = '=' in text
        text = text.split('=')[0].strip()
        match = re.match(r'(.*?)(\w+)$', text)
        declared, self.name = (match.group(1), match.group(2)) if match else (text, '')
        self.kind = kind_of(declared)
        if self.kind == 'string' and '*' not in declared:
            self.kind = 'number'
        self.pointer = '*' in declared and self.kind not in ('string',)
        self.out = '&' in declared and 'const' not in declared and self.kind == 'number'


class Form:
    def __init__(self, match):
        self.static = bool(match.group('static'))
        ret = match.group('ret').strip()
        self.result = kind_of(ret)
        # A pointer result (a text or an engine object) is nil for null.
        self.nullable = '*' in ret
        params = match.group('params').strip()
        self.params = [Param(p) for p in params.split(',')] if params and params != 'void' else []


def read_package(path):
    """{class or '-': {name: [Form]}} from the package file's declarations."""
    forms = {'-': {}}
    owner = '-'
    for line in open(path, encoding='utf-8'):
        line = line.split('//')[0]
        if line.startswith('$'):
            continue
        match = CLASS.match(line)
        if match:
            owner = match.group(1)
            forms.setdefault(owner, {})
            continue
        if re.match(r'^\s*};', line):
            owner = '-'
            continue
        special = re.match(r'^\s*(~?)(\w+)\s*\((?P<params>[^)]*)\)\s*;', line)
        if special and special.group(2) == owner:
            # A constructor registers new and new_local (static, a value of the class);
            # a destructor registers delete (a method without results).
            for name in (['delete'] if special.group(1) else ['new', 'new_local']):
                form = Form(DECLARATION.match('%svoid f(%s);' % ('' if special.group(1) else 'static ',
                                                                  special.group('params'))))
                form.result = 'void' if special.group(1) else owner
                forms[owner].setdefault(name, []).append(form)
            continue
        # A constructor with arguments registers new and new_local the same way.
        constructor = re.match(r'^\s*(\w+)\s*\((?P<params>[^)]+)\)\s*;', line)
        if constructor and constructor.group(1) == owner:
            for name in ('new', 'new_local'):
                form = Form(DECLARATION.match('static void f(%s);' % constructor.group('params')))
                form.result = owner
                forms[owner].setdefault(name, []).append(form)
            continue
        match = DECLARATION.match(line)
        if match and not match.group('native').startswith('operator'):
            name = match.group('name') or match.group('native')
            forms[owner].setdefault(name, []).append(Form(match))
    return forms


def constant_values(path, package):
    """{name: value} of the package's "constant PACKAGE NAME VALUE" lines."""
    values = {}
    for line in open(path, encoding='utf-8'):
        words = line.split('#')[0].split()
        if len(words) == 4 and words[0] == 'constant' and words[1] == package:
            values[words[2]] = words[3]
    return values


def read_manifest(path, values=None):
    """[(class or '-', {'functions': [...], 'variables': [...], 'arrays': [...], 'constants': [...]})]."""
    order, blocks, stack = [], {}, []
    for line in open(path, encoding='utf-8'):
        words = line.split('#')[0].split()
        if not words:
            continue
        if words[0] == 'begin':
            stack.append(words[1])
            if words[1] not in blocks:
                blocks[words[1]] = {'functions': [], 'variables': [], 'arrays': [], 'constants': []}
                order.append(words[1])
        elif words[0] == 'end':
            stack.pop()
        elif words[0] in ('function', 'variable', 'array', 'constant'):
            block = blocks[stack[-1]]
            entry = (words[1], words[2] if len(words) > 2 else (values or {}).get(words[1], '') if words[0] == 'constant' else '')
            key = words[0] + 's'
            if key != 'functions' or words[1] not in [name for name, _ in block[key]]:
                block[key].append(entry)
    return [(name, blocks[name]) for name in order]


def sample(kind):
    """A Lua expression giving a valid argument of the kind."""
    if kind == 'number':
        return '1'
    if kind == 'boolean':
        return 'true'
    if kind == 'string':
        return '"text"'
    return 'Fresh("%s")' % kind


def call(owner, name, static, self_expression, arguments):
    if owner == '-':
        return '%s(%s)' % (name, ', '.join(arguments))
    target = '%s.%s' % (owner, name)
    first = [owner if static else self_expression] if self_expression is not None else []
    expression = '%s(%s)' % (target, ', '.join(first + arguments))
    # What new makes lives until delete: the script keeps it and deletes it at the end.
    return 'Keep(%s)' % expression if name == 'new' else expression


def lua_string(text):
    return '"%s"' % text.replace('\\', '\\\\').replace('"', '\\"')


def class_cases(owner, block, forms, out):
    functions = [name for name, _ in block['functions'] if not name.startswith('.')]
    missing = [name for name in functions if name not in forms]
    if missing:
        sys.exit('%s: no declaration for %s' % (owner, ', '.join(missing)))

    if not functions and not block['arrays']:
        out.append('')
    else:
        function_cases(owner, block, forms, functions, out)
    variable_cases(owner, block, out)


def function_cases(owner, block, forms, functions, out):
    # Valid arguments: the first result's kind is one of the forms' kinds.
    out.append('Test(%s, function()' % lua_string(owner + ': every form with valid arguments'))
    for name in functions:
        kinds = sorted({'nil' if f.result == 'void' else
                        ('userdata' if f.result not in ('number', 'boolean', 'string') else f.result)
                        for f in forms[name]} | {'nil' for f in forms[name] if f.nullable})
        for form in forms[name]:
            arguments = [sample(p.kind) for p in form.params]
            expression = call(owner, name, form.static, 'Fresh("%s")' % owner, arguments)
            out.append('    CheckKind(%s, {%s})' % (lua_string(expression), ', '.join(lua_string(k) for k in kinds)))
    out.append('end)')

    # Missing, mistyped and extreme arguments: no error, whatever the result.
    out.append('Test(%s, function()' % lua_string(owner + ': absent, mistyped and extreme arguments'))
    for name in functions:
        seen = set()
        for form in forms[name]:
            variants = [[], [sample(p.kind) if p.kind != 'number' else '"x"' for p in form.params],
                        ['5' if p.kind not in ('number', 'boolean', 'string') else sample(p.kind) for p in form.params]]
            if any(p.kind == 'number' for p in form.params):
                for special in SPECIALS:
                    variants.append([special if p.kind == 'number' else sample(p.kind) for p in form.params])
            # A number where the only form takes an object by reference reads as null:
            # the call is rejected.
            references = [p for p in form.params if p.kind not in ('number', 'boolean', 'string') and not p.pointer]
            if len(forms[name]) == 1 and references:
                expression = call(owner, name, form.static, 'Fresh("%s")' % owner, variants[2])
                seen.add(expression)
                out.append('    Rejected(%s)' % lua_string(expression))
            for arguments in variants:
                expression = call(owner, name, form.static, 'Fresh("%s")' % owner, arguments)
                if expression not in seen:
                    seen.add(expression)
                    out.append('    NoError(%s)' % lua_string('return ' + expression))
    for array, _ in block['arrays']:
        for index in SPECIALS + ['"x"', 'nil']:
            out.append('    NoError(%s)' % lua_string('local _ = Fresh("%s").%s[%s]' % (owner, array, index)))
    out.append('end)')

    # Methods without a live object of their class: rejected, no results.
    methods = [name for name in functions if owner != '-' and any(not f.static for f in forms[name])]
    if methods:
        out.append('Test(%s, function()' % lua_string(owner + ': methods without a live object return nothing'))
        for name in methods:
            form = next(f for f in forms[name] if not f.static)
            arguments = [sample(p.kind) for p in form.params]
            for self_expression in ('nil', 'Other("%s")' % owner, '5', 'Dead()'):
                expression = call(owner, name, False, self_expression, arguments)
                out.append('    Rejected(%s)' % lua_string(expression))
        out.append('end)')



def variable_cases(owner, block, out):
    if block['variables'] or block['constants']:
        out.append('Test(%s, function()' % lua_string(owner + ': variables and constants'))
        scope = '_G' if owner == '-' else owner
        for variable, access in block['variables']:
            holder = 'Fresh("%s")' % owner if owner != '-' else '_G'
            out.append('    NoError(%s)' % lua_string('local _ = %s.%s' % (holder, variable)))
            if access == 'ro':
                out.append('    ReadOnly(%s, %s)' % (scope, lua_string(variable)))
        for constant, _ in block['constants']:
            out.append('    AssertEqual(type(%s.%s), "number", %s)' % (scope, constant, lua_string(constant)))
        for constant, value in block['constants']:
            if value:
                out.append('    AssertEqual(%s.%s, %s, %s)' % (scope, constant, value, lua_string(constant + ' value')))
        out.append('end)')


PRELUDE = '''-- Generated by gen_calls.py from the package's registrations; do not edit.

local classes = {%s}

-- A fresh value of the class; the engine objects of the test fixture (Fixture) where it
-- makes the class; for a class without values, its engine singleton (the global that
-- holds an object of that class).
-- A class no open package registers gives nil (an absent object); UTF-16 text is the
-- buffer of a fresh string.
function Fresh(name)
    if Fixture and Fixture[name] then return Fixture[name]() end
    if name == "unichar" then return LuaUnicodeString:Instance():GetUnicharPtr() end
    if _G[name] == nil then return nil end
    if _G[name].Instance then return _G[name]:Instance() end
    for _, value in pairs(_G) do
        if type(value) == "userdata" and tolua.type(value) == name then return value end
    end
    error("no object of class " .. name, 2)
end

-- Whether the value is an object of the class or of one of its subclasses.
local function IsA(value, name)
    local class = _G[name]
    local m = getmetatable(value)
    while m do
        if m == class then return true end
        m = getmetatable(m)
    end
    return false
end

-- An object of a class unrelated to the one named.
function Other(name)
    for _, other in ipairs(classes) do
        if other ~= name then
            local value = Fresh(other)
            if not IsA(value, name) then return value end
        end
    end
    return Runner.Spawn()
end

-- The objects new made (Keep passes its results on), deleted by the last case.
local kept = {}
function Keep(...)
    local v = ...
    if type(v) == "userdata" then kept[#kept + 1] = v end
    return ...
end
function DeleteKept()
    -- Classes without a delete (the free cameras) live until exit; elements are released
    -- (one that a call released already has a dead handle, which raises when indexed).
    for _, v in ipairs(kept) do
        local ok, release = pcall(function() return v.delete or v.Release end)
        if ok and release then release(v) end
    end
    kept = {}
end

local dead
-- A handle whose engine object is gone.
function Dead()
    if not dead then
        dead = Runner.Spawn()
        Runner.KillAll()
    end
    return dead
end

local function run(code)
    local chunk, message = loadstring(code)
    if not chunk then error(code .. ": " .. message, 3) end
    local results = {pcall(chunk)}
    if not results[1] then error(code .. ": raised " .. tostring(results[2]), 3) end
    return select("#", unpack(results)) - 1, results[2]
end

function NoError(chunk)
    run(chunk)
end

function CheckKind(expression, kinds)
    local count, first = run("return " .. expression)
    local kind = count == 0 and "nil" or type(first)
    for _, k in ipairs(kinds) do
        if k == kind then return end
    end
    error(expression .. ": result " .. kind .. ", expected " .. table.concat(kinds, " or "), 2)
end

function Rejected(expression)
    local count = run("return " .. expression)
    if count ~= 0 then error(expression .. ": " .. count .. " results, expected none", 2) end
end

function ReadOnly(scope, name)
    local before = tostring(scope[name])
    AssertRaises("read-only", function() scope[name] = 1 end)
    if name ~= nil and type(scope[name]) == "number" then AssertEqual(tostring(scope[name]), before, name) end
end
'''


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    manifest, package, behaviour, output = sys.argv[1:]
    forms = read_package(package)
    values = constant_values(behaviour, re.sub(r'\.txt$', '', manifest.replace('\\', '/').split('/')[-1]))
    blocks = read_manifest(manifest, values)
    # Modules (a 'begin' without a 'class' line) hold no objects.
    declared = {line.split()[1] for line in open(manifest, encoding='utf-8') if line.startswith('class ')}
    classes = [name for name, _ in blocks if name in declared]
    out = [PRELUDE % ', '.join(lua_string(c) for c in classes)]
    for owner, block in blocks:
        class_cases(owner, block, forms.get(owner, {}), out)
    if any('new' in f for f in forms.values()):
        out.append('Test("delete what new made", DeleteKept)')
    with open(output, 'w', encoding='utf-8') as f:
        f.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main()
