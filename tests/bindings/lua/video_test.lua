-- The video package over the fixture's video engine: a one-second clip "clip" in the
-- "videos" folder, its sound on the fixture's sound engine, both on a manual clock
-- stepped 30 ms at a time.

local STEPS_PER_SECOND = 1 / 0.03

Test("IsPlaying: false when idle, true after Play, false after the clip's last frame", function()
    AssertFalse(gVideoEngine:IsPlaying(), "idle")
    local v = Fixture.VideoEngine()
    AssertFalse(v:IsPlaying(), "idle with the clip mounted")
    v:Play("clip")
    AssertTrue(v:IsPlaying(), "after Play")
    local steps = Fixture.PlayVideo(400)
    AssertFalse(v:IsPlaying(), "after the last frame")
    -- It ran for the clip's second, not less (a failed open ends at once).
    AssertTrue(steps >= STEPS_PER_SECOND * 0.9 and steps <= STEPS_PER_SECOND * 2, "steps " .. steps)
end)

-- Play's defaults, seen in what the engine does: the folder "videos" (another folder
-- does not open), the full-screen flag, playing once (a looping clip outlasts the
-- steps) and the voice's volume.
Test("Play(name) plays from \"videos\", full screen, once, at volume 1", function()
    local v = Fixture.VideoEngine()
    local cases = {
        {"defaults", {"clip"}, true, true, 1},
        {"another folder", {"clip", "elsewhere"}, true, false, nil},
        {"windowed", {"clip", "videos", false}, false, true, 1},
        {"looping", {"clip", "videos", true, true}, true, true, 1, "loops"},
        {"half volume", {"clip", "videos", true, false, 0.5}, true, true, 0.5},
    }
    for _, c in ipairs(cases) do
        v:Play(unpack(c[2]))
        AssertEqual(Fixture.VideoFullScreen(), c[3], c[1] .. ": full screen")
        local steps = Fixture.PlayVideo(3)
        AssertEqual(steps > 0 and v:IsPlaying(), c[4], c[1] .. ": opened")
        AssertEqual(Fixture.Voices()[1], c[5], c[1] .. ": voice volume")
        local limit = math.ceil(STEPS_PER_SECOND * 3)
        steps = Fixture.PlayVideo(limit)
        AssertEqual(v:IsPlaying(), c[6] == "loops", c[1] .. ": playing after 3 s")
        v:Stop()
        Fixture.PlayVideo(1)
        AssertFalse(v:IsPlaying(), c[1] .. ": stopped")
    end
end)
