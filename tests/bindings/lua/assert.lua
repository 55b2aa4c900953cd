-- The cases' shared helpers. A script declares its cases with Test(name, function);
-- the runner calls RunTests, which runs each case in its own protected call and returns
-- the counts passed and failed and a list of "name: message" lines.

local cases = {}
local find, format, concat = string.find, string.format, table.concat

function Test(name, body)
    cases[#cases + 1] = {name = name, body = body}
end

local function describe(value)
    if type(value) == "string" then return format("%q", value) end
    return tostring(value)
end

local function fail(message, level)
    error(message, (level or 1) + 2)
end

function AssertTrue(value, what)
    if not value then fail((what or "value") .. " is " .. describe(value) .. ", expected true") end
end

function AssertFalse(value, what)
    if value then fail((what or "value") .. " is " .. describe(value) .. ", expected false") end
end

function AssertEqual(actual, expected, what)
    if actual ~= expected then
        fail((what or "value") .. " is " .. describe(actual) .. ", expected " .. describe(expected))
    end
end

-- Within a relative tolerance (1e-5 unless given).
function AssertNear(actual, expected, what, tolerance)
    tolerance = tolerance or 1e-5
    if type(actual) ~= "number" or math.abs(actual - expected) > tolerance * math.max(1, math.abs(expected)) then
        fail((what or "value") .. " is " .. describe(actual) .. ", expected about " .. describe(expected))
    end
end

-- The call raises an error whose message contains the text (plain find).
function AssertRaises(text, f, ...)
    local ok, message = pcall(f, ...)
    if ok then fail("no error, expected one with " .. describe(text)) end
    if not find(tostring(message), text, 1, true) then
        fail("error " .. describe(message) .. ", expected one with " .. describe(text))
    end
end

-- The number and the kinds of a call's results, as "n kind kind ...".
function Results(...)
    local parts = {tostring(select("#", ...))}
    for i = 1, select("#", ...) do parts[#parts + 1] = type((select(i, ...))) end
    return concat(parts, " ")
end

function RunTests()
    local passed, failed, lines = 0, 0, {}
    for _, case in ipairs(cases) do
        local ok, message = pcall(case.body)
        if ok then
            passed = passed + 1
        else
            failed = failed + 1
            lines[#lines + 1] = case.name .. ": " .. tostring(message)
        end
    end
    return passed, failed, lines
end
