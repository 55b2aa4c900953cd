-- The sound package over the sound engine of the fixture (no thread, manual output):
-- what a call posts is read from the sound thread's ring before it runs.

local ALL = 4294967295

-- The records the calls of f post, unrun (whatever was pending runs first).
local function Posted(f)
    Fixture.SoundEngine()
    f()
    return Fixture.SoundCommands()
end

local function Words(record, first, last, kind)
    local out = {}
    for i = first, last do out[#out + 1] = string.format("%.10g", record[kind or "u32"][i]) end
    return table.concat(out, " ")
end

Test("constants keep the engine's values", function()
    local cases = {
        {"SOUNDSTARTFLAG_STREAMED", 1}, {"SOUNDSTARTFLAG_ABSOULUTEPATH", 2}, {"SOUNDSTARTFLAG_MUSIC", 4},
        {"SOUNDSTARTFLAG_JUSTLOAD", 8}, {"SOUNDSTARTFLAG_NOATTENUATION", 32}, {"SOUNDSTARTFLAG_IMPORTANT", 64},
        {"SOUNDSTARTFLAG_IPHONEMP3", 16}, {"SOUNDCLASS_SFX", 0}, {"SOUNDCLASS_MUSIC", 1},
        {"SOUNDCLASS_VOICE", 2}, {"SOUNDCLASS_MAX", 3},
    }
    for _, c in ipairs(cases) do AssertEqual(_G[c[1]], c[2], c[1]) end
end)

-- Owners travel at native size: two words of zero for "no owner".
Test("instance calls post the id, no owner and the channel scripts cannot give", function()
    local e = gSoundEngine
    local cases = {
        -- call, command, words of its payload
        {function() e:StopSound() end, 16, {ALL, 0, 0}, {0}},
        {function() e:StopSound(5, 2) end, 16, {5, 0, 0}, {2}},
        {function() e:StopSound(-1, 2) end, 16, {ALL, 0, 0}, {2}},  -- -1 wraps to every instance
        {function() e:ExitLoop() end, 17, {ALL, 0, 0}, {}},
        {function() e:PauseSound(7, 0.5) end, 18, {7, 0, 0}, {0.5}, ALL},
        {function() e:ResumeSound(8, 0.25, 1) end, 19, {8, 0, 0}, {0.25}, ALL},
        {function() e:SetVolume(9, 0.5, 2, 3) end, 20, {9, 0, 0}, {0.5, 2}, 3},
        {function() e:SetFrequencyRatio(10, 1.5, 1, 2, nil) end, 21, {10, 0, 0}, {1.5, 1}, 2},
    }
    for i, c in ipairs(cases) do
        local records = Posted(c[1])
        AssertEqual(#records, 1, "case " .. i .. ": one record")
        local r = records[1]
        AssertEqual(r.id, c[2], "case " .. i .. ": command")
        AssertEqual(Words(r, 1, 3), table.concat(c[3], " "), "case " .. i .. ": id and owner")
        local floats = {}
        for k, v in ipairs(c[4]) do floats[k] = string.format("%.10g", v) end
        AssertEqual(Words(r, 4, 3 + #c[4], "f32"), table.concat(floats, " "), "case " .. i .. ": numbers")
        if c[5] then AssertEqual(r.u32[4 + #c[4]], c[5], "case " .. i .. ": channel or curve") end
        AssertEqual(r.size, 4 * (3 + #c[4] + (c[5] and 1 or 0)), "case " .. i .. ": payload bytes")
    end
end)

Test("a dead owner rejects an instance call; nothing is posted", function()
    local dead = Runner.Spawn()
    Runner.KillAll()
    local records = Posted(function()
        AssertEqual(Results(gSoundEngine:SetFrequencyRatio(1, 1, 0, 0, dead)), "0", "no results")
    end)
    AssertEqual(#records, 0, "records")
end)

Test("parameter sets: Instance is the defaults, DEFAULT is a copy, unsigned fields take the number rule", function()
    local fields = {"Flags", "Class", "Volume", "FrequencyRatio", "Channel", "LoopCount", "FullVolumeRange",
                    "ZeroVolumeRange", "StereoSoundChannelDistance", "DopplerFactor", "StartDelay",
                    "StreamingBufferSize"}
    local p, d = SoundParamWrapper:Instance(), SoundParamWrapper.DEFAULT
    for _, f in ipairs(fields) do AssertEqual(p[f], d[f], f) end

    local changed = SoundParamWrapper.DEFAULT
    changed.Volume = d.Volume + 1
    AssertEqual(SoundParamWrapper.DEFAULT.Volume, d.Volume, "the engine's defaults unchanged")
    AssertRaises("read-only", function() SoundParamWrapper.DEFAULT = p end)

    p.Volume = 0.25
    p:LoadDefaults()
    AssertEqual(p.Volume, d.Volume, "LoadDefaults")

    local cases = {
        {"Flags", SOUNDSTARTFLAG_STREAMED + SOUNDSTARTFLAG_MUSIC, 5},
        {"Channel", -1, 2 ^ 32},  -- wraps to all bits
        {"Channel", ALL, 2 ^ 32},  -- all bits, read back through a float
        {"LoopCount", 2.9, 2},
        {"StreamingBufferSize", 2 ^ 24 + 1, 2 ^ 24},
        {"Volume", 0.1, 0.100000001490116},
    }
    for _, c in ipairs(cases) do
        p[c[1]] = c[2]
        AssertNear(p[c[1]], c[3], c[1] .. " = " .. tostring(c[2]), 1e-12)
    end
end)

Test("PlaySystemSound posts its id and the 48-byte block; ids count up", function()
    local p = SoundParamWrapper:Instance()
    p.Flags, p.Channel, p.Volume, p.StartDelay = SOUNDSTARTFLAG_STREAMED, 3, 0.5, 0.25
    local first, second
    local records = Posted(function()
        first = gSoundEngine:PlaySystemSound("a.wav", p)
        second = gSoundEngine:PlaySystemSound("b.wav", nil)
    end)
    AssertTrue(first > 0, "an id")
    AssertEqual(second, first + 1, "the next id")
    AssertEqual(#records, 2, "records")
    local r = records[1]
    AssertEqual(r.id, 15, "play")
    AssertEqual(r.u32[1], first, "the id")
    AssertEqual(r.size, 4 + 48 + 4 + #"a.wav" + 1, "id, block, length and name")
    local words = {p.Flags, p.Class, p.Volume, p.FrequencyRatio, p.Channel, p.LoopCount, p.FullVolumeRange,
                   p.ZeroVolumeRange, p.StereoSoundChannelDistance, p.DopplerFactor, p.StartDelay,
                   p.StreamingBufferSize}
    local unsigned = {[1] = true, [2] = true, [5] = true, [6] = true, [12] = true}
    for i, v in ipairs(words) do
        AssertEqual(unsigned[i] and r.u32[1 + i] or r.f32[1 + i], v, "block word " .. i)
    end
    AssertEqual(r.u32[14], #"a.wav", "name length")
    AssertEqual(records[2].f32[4], SoundParamWrapper.DEFAULT.Volume, "nil plays with the defaults")
end)

Test("PlayLocalizedVoice streams a voice and returns its id", function()
    local p = SoundParamWrapper:Instance()
    local id
    local records = Posted(function() id = gSoundEngine:PlayLocalizedVoice("hello", p) end)
    AssertTrue(id > 0, "an id")
    AssertEqual(records[1].u32[1], id, "posted under the id")
    AssertEqual(records[1].u32[2], SOUNDSTARTFLAG_STREAMED + SOUNDSTARTFLAG_ABSOULUTEPATH, "flags")
    AssertEqual(records[1].u32[3], SOUNDCLASS_VOICE, "class")
    AssertEqual(p.Class, SOUNDCLASS_VOICE, "written into the script's set")
end)

Test("channel fades reach one channel, or all sixteen with 4294967295 (or -1)", function()
    local e = Fixture.SoundEngine()
    e:SetChannelVolume(ALL, 0.5, 0, 0)
    e:SetChannelFrequencyRatio(ALL, 1.5, 0, 0)
    e:SetChannelVolume(3, 0.25, 0, 0)
    Fixture.SoundEngine()
    for i = 0, 15 do
        AssertEqual(Fixture.SoundChannel(i), i == 3 and 0.25 or 0.5, "volume of channel " .. i)
    end
    e:SetChannelVolume(-1, 0.125, 0, 0)  -- wraps to every channel
    Fixture.SoundEngine()
    for i = 0, 15 do
        local volume, ratio = Fixture.SoundChannel(i)
        AssertEqual(volume, 0.125, "volume of channel " .. i)
        AssertEqual(ratio, 1.5, "ratio of channel " .. i)
    end
end)

Test("the pool and instance logs reach the loader and the sound thread", function()
    Fixture.LoaderCommands()
    local cases = {
        {function() gSoundEngine:LogSoundMemoryPool() end, 20, nil},
        {function() gSoundEngine:EvictSoundMemoryPool() end, 11, nil},
        {function() gSoundEngine:LogActiveSoundInstances() end, nil, 23},
    }
    for i, c in ipairs(cases) do
        local records = Posted(c[1])
        local loader = Fixture.LoaderCommands()
        AssertEqual(loader[1], c[2], "case " .. i .. ": loader command")
        AssertEqual(records[1] and records[1].id, c[3], "case " .. i .. ": sound command")
    end
end)

local function Entry(sounds, loop)
    local p = SoundEntryParams:Instance()
    for _, s in ipairs(sounds) do p:AddSound(s) end
    p.Loop = loop or false
    p.RandomDelay, p.RandomVar = 2, 3
    return p
end

Test("entry settings start at the record's defaults", function()
    local p = SoundEntryParams:Instance()
    local cases = {
        {"Volume", 1}, {"RangeMin", 100}, {"RangeMax", 100}, {"Pitch", 1}, {"RandomDelay", 5},
        {"RandomVar", 5}, {"Attenuate", false}, {"Loop", false}, {"Important", false},
    }
    for _, c in ipairs(cases) do AssertEqual(p[c[1]], c[2], c[1]) end
end)

Test("entries: added once by name, read back, suffixed", function()
    local c = gSoundEntriesContainer
    c:RemoveAllSoundEntries()
    local cases = {
        {nil, false}, {"step", true}, {"step", false}, {"STEP", false}, {"loop", true},
    }
    for i, case in ipairs(cases) do
        AssertEqual(c:AddSoundEntry(case[1], Entry({"a.wav", "b.wav"}, case[1] == "loop")), case[2], "add " .. i)
    end
    AssertEqual(Results(c:AddSoundEntry("other", nil)), "0", "no settings: rejected")
    AssertEqual(c:GetSoundEntrySoundsNumber("step"), 2, "sounds")
    AssertEqual(c:GetSoundEntrySound("step", 1), "b.wav", "second sound")
    AssertEqual(c:GetSoundEntrySound("step", 2), nil, "past the end")
    AssertEqual(c:GetSoundEntrySound("none", 0), nil, "missing entry")
    AssertTrue(c:IsSoundEntryLooped("loop"), "looped")
    AssertFalse(c:IsSoundEntryLooped("step"), "not looped")
    local function Values(...)
        local out = {}
        for i = 1, select("#", ...) do out[i] = tostring((select(i, ...))) end
        return table.concat(out, " ")
    end
    AssertEqual(Values(c:GetSoundEntryRandomTimeValues("step", 0, 0)), "true 2 3", "delay values")
    AssertEqual(Values(c:GetSoundEntryRandomTimeValues("none", 7, 8)), "false 7 8", "missing")

    local p = Entry({"x.wav"})
    p:RemoveAllSounds()
    AssertTrue(c:AddSoundEntry("empty", p), "added")
    AssertEqual(c:GetSoundEntrySoundsNumber("empty"), 0, "no sounds")

    AssertEqual(c:GetSoundEntriesNameSuffix(), nil, "no suffix")
    c:SetSoundEntriesNameSuffix("_night")
    AssertEqual(c:GetSoundEntriesNameSuffix(), "_night", "suffix")
    AssertTrue(c:AddSoundEntry("step_night", Entry({"n.wav"})), "added")
    AssertEqual(c:GetSoundEntrySound("step", 0), "n.wav", "the suffixed entry first")
    c:SetSoundEntriesNameSuffix(nil)
    c:RemoveAllSoundEntries()
end)

Test("PlaySoundEntry: nil or a number plays without an emitter, an entity on its own; a dead or foreign object rejects the call", function()
    local c = gSoundEntriesContainer
    c:RemoveAllSoundEntries()
    c:EnableSoundsPlay(true)
    local p = Entry({"a.wav"})
    p.Attenuate = true
    c:AddSoundEntry("ui", p)
    local dead = Fixture.Entity(0, 0, 0)
    Fixture.Destroy(dead)
    local cases = {
        {"nil", nil, 1},
        {"dead entity", dead, 0},
        {"another class", SoundParamWrapper:Instance(), 0},
        {"a number", 5, 1},
    }
    for _, case in ipairs(cases) do
        local results
        local records = Posted(function() results = {c:PlaySoundEntry("ui", case[2], 2, 0.5)} end)
        AssertEqual(#results, case[3], case[1] .. ": results")
        AssertEqual(#records, case[3], case[1] .. ": records")
        if case[3] == 1 then
            AssertTrue(results[1] > 0, "an id")
            AssertEqual(records[1].u32[1], results[1], "posted under the id")
            AssertEqual(records[1].u32[6], 2, "channel")
            AssertEqual(records[1].f32[12], 0.5, "start delay")
        end
    end
    AssertTrue(c:PlaySoundEntry("ui", Fixture.Entity(1, 0, 1), 2, 0.5) > 0, "a live entity plays on its emitter")
    AssertEqual(Results(c:PlaySoundEntry("missing", nil)), "1 number", "a missing entry plays nothing")
    AssertEqual(c:PlaySoundEntry("missing", nil), 0, "id 0")
    c:EnableSoundsPlay(false)
    c:RemoveAllSoundEntries()
end)

-- Last: from here on the loader runs, so its ring can no longer be read.
Test("real sounds: a single pass plays and ends; StopSound(-1) stops every endless one", function()
    Fixture.Sounds()
    local function Until(condition)
        for _ = 1, 3000 do
            if condition() then return true end
            Fixture.StepSound(1)
        end
        return false
    end
    local function Playing() return #Fixture.Voices() > 0 end
    local function Silent() return Fixture.SoundInstances() == 0 end
    local cases = {{"tone.wav", 0}, {"tone.ogg", SOUNDSTARTFLAG_STREAMED}}
    for _, c in ipairs(cases) do
        local p = SoundParamWrapper:Instance()
        p.Flags, p.LoopCount = c[2], 1
        AssertTrue(gSoundEngine:PlaySystemSound(c[1], p) > 0, c[1] .. ": an id")
        AssertTrue(Until(Playing), c[1] .. ": a voice plays")
        AssertTrue(Until(Silent), c[1] .. ": ended after one pass")
    end
    for _, c in ipairs(cases) do
        local p = SoundParamWrapper:Instance()
        p.Flags, p.LoopCount = c[2], 0
        gSoundEngine:PlaySystemSound(c[1], p)
    end
    AssertTrue(Until(function() return #Fixture.Voices() == 2 end), "both endless sounds play")
    Fixture.StepSound(40)
    AssertEqual(Fixture.SoundInstances(), 2, "still playing after 1.2 s")
    gSoundEngine:StopSound(-1)
    AssertTrue(Until(Silent), "every instance stopped")
end)
