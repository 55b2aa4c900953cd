-- The engine-core package's script-owned values: wide strings, times and timers. Under
-- the address sanitizer a value freed twice, freed too early, or never freed is a
-- finding.

Test("a wide string counts its terminator and copies from a live buffer", function()
    local s = LuaUnicodeString:Instance()
    AssertEqual(s:GetLength(), 0, "a new string")
    s:AppendChar(72)
    s:AppendChar(105)
    AssertEqual(s:GetLength(), 2, "two characters")
    local copy = LuaUnicodeString:Instance(s:GetUnicharPtr())
    AssertEqual(copy:GetLength(), 2, "a copy of the buffer")
    s:RemoveLastChar()
    AssertEqual(copy:GetLength(), 2, "the copy is its own")
    s:Clear()
    s:RemoveLastChar()
    AssertEqual(s:GetLength(), 0, "removing from an empty string")
    AssertEqual(LuaUnicodeString:Instance(nil):GetLength(), 0, "a copy of nothing")
    local owned = LuaUnicodeString:new()
    owned:AppendChar(33)
    owned:delete()
    owned:delete()
    AssertEqual(Results(owned:GetLength()), "0", "a deleted string answers nothing")
end)

Test("time values are copies and timers start from their own state", function()
    local t = Time:Instance(Time.ZERO)
    t:Add(1)
    AssertEqual(Time.ZERO:ToSeconds(), 0, "ZERO after a copy of it changed")
    local z = Time.ZERO
    z:Add(1)
    AssertEqual(Time.ZERO:ToSeconds(), 0, "ZERO is handed out as a copy")

    local timer = GameTimer:Instance()
    AssertEqual(timer:GetCurrentFrame(), 0, "a new timer's frames")
    timer:Pause(true)
    timer:Tick(0.5)
    AssertTrue(timer:IsPaused(), "paused")
    AssertEqual(timer:GetCurrentFrame(), 1, "a paused tick still counts")
    AssertEqual(timer:GetNonPausedFrame(), 0, "but not as a running one")
    AssertEqual(timer:GetElapsedGameTime(), 0, "no delta while paused")
    local copy = GameTimer:Instance(timer)
    timer:Pause(false)
    AssertTrue(copy:IsPaused(), "the copy keeps its own pause")
    timer:ResetTime()
    timer:Tick(0.25)
    AssertEqual(timer:GetNonPausedFrame(), 1, "a running tick")
    AssertEqual(timer:GetElapsedGameTime(), 0.25, "the last delta")
    AssertEqual(timer:GetGameTime():ToSeconds(), 0.25, "the time since the reset")
    timer:Tick(0.5)
    local since = Time:Instance(Time.ZERO)
    since:Add(0.5)
    local cases = {
        {"since zero: the time since, then the last delta", Time.ZERO, "0.75 0.5"},
        {"since half a second", since, "0.25 0.5"},
        {"no Time: the last delta alone", 5, "0.5"},
    }
    for _, c in ipairs(cases) do
        AssertEqual(table.concat({timer:GetElapsedGameTime(c[2])}, " "), c[3], c[1])
    end
end)

Test("outline parameters from scripts", function()
    local p = OutlineParams:Instance()
    p:SetGammaSpaceColorHero(Vector:Instance(1, 1, 1, 1))
    p:SetSoftness(0.25)
    gGame:SetOutlineParams(p)
    gGame:RevertToDefaultOutlineParams()
    local owned = OutlineParams:new()
    owned:delete()
    owned:delete()
    collectgarbage()
end)
