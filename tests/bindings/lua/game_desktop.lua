-- The game's desktop package over the fixture's progress result: the constants, the
-- entries with their two results, the user's three, the area views that keep their
-- result alive and nil past the last area, and the profile's own calls. Then the
-- script's own progress objects: copies of the shared ones, area views that die with
-- their areas, and copies freed once, by delete or the collector. Last, the game's
-- delegate as scripts find it (gGameDelegate), its logged-in profile and its leaderboards.

Test("the progress constants", function()
    AssertEqual(PROGRESS_FINISHED_INDEX, 100, "finished")
    AssertEqual(PROGRESS_INVALID_INDEX, 101, "invalid")
end)

Test("entries come back as a name and a number", function()
    local area = Fixture.PCMacProgressData():GetArea(0)
    AssertEqual(area:GetDeathsNumber(), 3, "deaths")
    AssertEqual(area:GetFriendsEntriesNumber(), 1, "friends")
    AssertEqual(Results(area:GetFriendEntry(0, "", 0)), "2 string number", "two results")
    local name, value = area:GetFriendEntry(0, "", 0)
    AssertEqual(name .. " " .. value, "Ann 12", "the friend")
    name, value = area:GetOtherEntry(5, "none", -1)
    AssertEqual(name .. " " .. value, "none -1", "no such entry keeps the given ones")
end)

Test("the user's data and the areas", function()
    local data = Fixture.PCMacProgressData()
    AssertEqual(data:GetUserAreaIndex(), 1, "the user's area")
    AssertEqual(Results(data:GetUserData("", 0)), "3 boolean string number", "three results")
    local found, name, value = data:GetUserData("", 0)
    AssertTrue(found, "found")
    AssertEqual(name .. " " .. value, "Me 40", "the user")
    AssertEqual(data:GetAreasNumber(), 2, "areas")
    AssertEqual(tolua.type(data:GetArea(1)), "PCMacAreaProgressData", "an area")
    AssertEqual(data:GetArea(2), nil, "past the last area")
end)

Test("the analyzer refuses without leaderboards; the profile's own calls", function()
    local analyzer = Fixture.PCMacProgressAnalyzer()
    AssertFalse(analyzer:StartAnalyze("Progress", Fixture.PCMacProgressData(), 2), "no leaderboards")
    AssertFalse(analyzer:IsAreaAnalyzed(0), "nothing analysed")
    local p = Fixture.PCMacGamerProfile()
    AssertEqual(tolua.type(p), "PCMacGamerProfile", "the profile's class")
    AssertEqual(type(p:GetSteamAppId()), "number", "the application id")
    AssertEqual(type(p:AreStatsRetrieved()), "boolean", "stats")
    AssertTrue(p:StoreMissionScore("M02", 5), "a base forward through the subclass")
end)

-- A result of areaCount areas, made by an analysis over the fixture's board.
local function AnalysedData(areaCount)
    local data = PCMacProgressData:Instance()
    AssertTrue(PCMacProgressAnalyzer:Instance():StartAnalyze("M01", data, areaCount), "an analysis starts")
    return data
end

Test("Instance gives the script copies of the shared progress objects", function()
    Fixture.ShareProgressAnalyzer(Fixture.SteamLeaderboardsManager())
    local analyzer, data = PCMacProgressAnalyzer:Instance(), PCMacProgressData:Instance()
    AssertEqual(data:GetAreasNumber() .. " " .. data:GetUserAreaIndex(), "0 101", "a new result is empty")
    AssertTrue(analyzer:StartAnalyze("M01", data, 3), "a copy has the shared one's leaderboards")
    AssertFalse(analyzer:StartAnalyze("M01", data, 3), "the copy is busy")
    AssertEqual(data:GetAreasNumber(), 3, "the copy's result")
    AssertTrue(PCMacProgressAnalyzer:Instance():StartAnalyze("M01", PCMacProgressData:Instance(), 2),
               "the shared analyzer stayed idle")
    AssertEqual(PCMacProgressData:Instance():GetAreasNumber(), 0, "the shared result stayed empty")
    Fixture.ShareProgressAnalyzer(nil)
    AssertFalse(PCMacProgressAnalyzer:Instance():StartAnalyze("M01", PCMacProgressData:Instance(), 2),
                "copies of an analyzer without leaderboards")
    Fixture.PumpLeaderboards()
end)

Test("a kept area view lives with its data and dies with its areas", function()
    Fixture.ShareProgressAnalyzer(Fixture.SteamLeaderboardsManager())
    local view
    do view = AnalysedData(2):GetArea(1) end
    collectgarbage()
    collectgarbage()
    AssertEqual(view:GetDeathsNumber(), 0, "the view keeps its data")
    local dead = "attempt to use a dead PCMacAreaProgressData object"
    local data = AnalysedData(2)
    view = data:GetArea(1)
    AssertTrue(PCMacProgressAnalyzer:Instance():StartAnalyze("M01", data, 1), "a new analysis of the data")
    AssertRaises(dead, function() return view:GetDeathsNumber() end)
    view = data:GetArea(0)
    data:delete()
    AssertRaises(dead, function() return view:GetFriendEntry(0, "", 0) end)
    AssertEqual(Results(data:GetAreasNumber()), "0", "a deleted result answers nothing")
    data:delete()
    Fixture.ShareProgressAnalyzer(nil)
    Fixture.PumpLeaderboards()
end)

Test("copies are freed once, by delete or the collector; other objects are kept", function()
    -- A result kept by a dropped view goes a collection or two after the view.
    for _ = 1, 4 do collectgarbage() end
    local dataFreed = Fixture.CountCollections("PCMacProgressData")
    local analyzersFreed = Fixture.CountCollections("PCMacProgressAnalyzer")
    for _ = 1, 10 do
        PCMacProgressData:Instance()
        PCMacProgressAnalyzer:Instance()
    end
    collectgarbage()
    collectgarbage()
    AssertEqual(dataFreed() .. " " .. analyzersFreed(), "10 10", "dropped copies collected")
    local data = PCMacProgressData:Instance()
    data:delete()
    AssertEqual(dataFreed(), 11, "delete frees at once")
    data:delete()
    data = nil
    collectgarbage()
    collectgarbage()
    AssertEqual(dataFreed(), 11, "a deleted copy is not freed again")
    local engines = Fixture.PCMacProgressData()
    engines:delete()
    AssertEqual(dataFreed(), 11, "the engine's result is not the script's")
    AssertEqual(Runner.Warnings("not an object the script owns"), 1, "reported")
    AssertEqual(engines:GetAreasNumber(), 2, "and kept")
end)

Test("gGameDelegate is the desktop delegate, with its script bases' methods", function()
    AssertEqual(tolua.type(gGameDelegate), "PCMacGameDelegate", "its own class")
    function ZKRGameDelegate:DesktopCaseAnswer(x) return "game " .. x end
    AssertEqual(gGameDelegate:DesktopCaseAnswer(1), "game 1", "a method the script defined on the game's class")
    ZKRGameDelegate.DesktopCaseAnswer = nil
    AssertTrue(gGameDelegate:IsSteamEnabled(), "a base binding reaches the desktop delegate's answer")
end)

Test("GetLoggedInProfile: nil without a profile, the desktop profile once its user logs in", function()
    Fixture.LogOut(gGameDelegate)
    AssertEqual(Results(gGameDelegate:GetLoggedInProfile()), "1 nil", "no profile")
    Fixture.LogIn(gGameDelegate)
    local p = gGameDelegate:GetLoggedInProfile()
    AssertEqual(tolua.type(p), "PCMacGamerProfile", "the profile's own class")
    -- The fixture's application id, read back through the float.
    AssertNear(p:GetSteamAppId(), 0x1234567, "on the broker's services", 2)
    AssertTrue(rawequal(p, gGameDelegate:GetLoggedInProfile()), "the same object each time")
    Fixture.LogOut(gGameDelegate)
    AssertRaises("attempt to use a dead PCMacGamerProfile object", function() return p:IsProgessDirty() end)
    AssertEqual(gGameDelegate:GetLoggedInProfile(), nil, "logged out")
end)

Test("GetLeaderboardsManager: the delegate's manager, where its profile posts scores", function()
    local lb = gGameDelegate:GetLeaderboardsManager()
    AssertEqual(tolua.type(lb), "SteamLeaderboardsManager", "the manager's class")
    AssertTrue(lb:RetrieveLeaderboard("M01", RETREQ_GLOBAL, 3, 0), "a request")
    AssertTrue(Fixture.PumpLeaderboards(lb), "settles")
    AssertEqual(lb:GetLeaderboardRetrieveStatus("M01"), RETSTATUS_RETRIEVED, "retrieved")
    AssertEqual(lb:GetLeaderboardRetrievedEntriesNumber("M01", 0), 3, "the rows asked for")
    AssertEqual(select(4, lb:GetLeaderboardRetrievedEntry("M01", 0, 0, "", 0, false)), 1000, "the best score")
    AssertTrue(Fixture.PCMacGamerProfile():StoreMissionScore("M01", 1200), "the profile stores a score")
    AssertTrue(Fixture.PumpLeaderboards(lb), "the upload settles")
    AssertTrue(lb:RetrieveLeaderboard("M01", RETREQ_GLOBAL, 1, 0), "read again")
    AssertTrue(Fixture.PumpLeaderboards(lb), "settles again")
    AssertEqual(select(4, lb:GetLeaderboardRetrievedEntry("M01", 0, 0, "", 0, false)), 1200,
                "the profile's score on the delegate's board")
    Fixture.LogOut(gGameDelegate)
end)
