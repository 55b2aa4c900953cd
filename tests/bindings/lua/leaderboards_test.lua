-- The game-delegate package: the delegates' queries and the leaderboards manager over an
-- in-process broker whose board "M01" holds ten scores, 1000 down to 550 (the user has
-- none until a case uploads one).

local lb = Fixture.SteamLeaderboardsManager()

local function Settle()
    AssertTrue(Fixture.PumpLeaderboards(), "the manager's queue settles")
end

Test("queries: the base answers no, an overriding delegate answers through the same bindings", function()
    local queries = {"IsSteamEnabled", "IsXBoxLiveEnabled", "IsXBoxLiveSignedIn", "IsXBoxLiveAgeRestricted",
                     "IsGameCenterEnabled"}
    local answering = Fixture.AnsweringDelegate()
    for _, q in ipairs(queries) do
        AssertEqual(GameDelegate[q](Fixture.GameDelegate()), false, "base " .. q)
        AssertEqual(GameDelegate[q](Fixture.LuaGameDelegate()), false, "Lua base " .. q)
        AssertEqual(answering[q](answering), true, "overridden " .. q)
    end
    local actions = Fixture.Actions()
    AssertEqual(Results(answering:XBoxLiveLogin()), "0")
    AssertEqual(Results(answering:OpenGameCenterMatchmakingUI()), "0")
    AssertEqual(Fixture.Actions(), actions + 2, "both actions reach the delegate")
    AssertEqual(Results(Fixture.GameDelegate():GetLeaderboardViewer()), "1 nil")
    AssertEqual(Fixture.GamerProfile():IsXBoxLiveProfile(), false)
end)

Test("RunSceneLocalLuaFiles runs the current scene's script, nothing without a scene", function()
    Fixture.Entity(0, 0, 0)
    local d = Fixture.LuaGameDelegate()
    SceneRuns = 0
    Fixture.Scene("m07", "SceneRuns = SceneRuns + 1")
    d:RunSceneLocalLuaFiles()
    AssertEqual(SceneRuns, 1)
    Fixture.Scene(nil)
    d:RunSceneLocalLuaFiles()
    AssertEqual(SceneRuns, 1)
end)

Test("retrieve: unknown names fail, a request under way waits, rows come back in order", function()
    AssertEqual(lb:GetLeaderboardRetrieveStatus("nothing"), RETSTATUS_FAILED)
    AssertTrue(lb:RetrieveLeaderboard("M01", RETREQ_GLOBAL, 10, 0))
    AssertEqual(lb:GetLeaderboardRetrieveStatus("M01"), RETSTATUS_WAIT)
    Settle()
    AssertEqual(lb:GetLeaderboardRetrieveStatus("M01"), RETSTATUS_RETRIEVED)
    AssertEqual(lb:GetLeaderboardTotalEntriesNumber("M01"), 10)
    local count, userRow = lb:GetLeaderboardRetrievedEntriesNumber("M01", 77)
    AssertEqual(count, 10)
    for i = 0, count - 1 do
        local ok, rank, persona, score, isFriend = lb:GetLeaderboardRetrievedEntry("M01", i, 0, "", 0, true)
        AssertEqual(ok, true, "row " .. i)
        AssertEqual(rank, i + 1, "rank of row " .. i)
        AssertEqual(type(persona), "string", "persona of row " .. i)
        AssertEqual(score, 1000 - 50 * i, "score of row " .. i)
        AssertEqual(isFriend, false, "friend flag of row " .. i)
    end
    AssertEqual(Results(lb:GetLeaderboardRetrievedEntry("M01", 10, 7, "in", 8, true)),
                "5 boolean number string number boolean")
    local ok, rank, persona, score, isFriend = lb:GetLeaderboardRetrievedEntry("M01", 10, 7, "in", 3000000000, true)
    AssertEqual(table.concat({tostring(ok), rank, persona, string.format("%.0f", score), tostring(isFriend)}, " "),
                "false 7 in 3000000000 true",
                "past the rows: false, then the inputs")
    local found, detail = lb:GetLeaderboardRetrievedEntryDetail("M01", 99, 5)
    AssertEqual(tostring(found) .. " " .. detail, "false 5")
end)

-- The user's row after the queue settled and the board was read around the user.
local function UserRow()
    Settle()
    AssertTrue(lb:RetrieveLeaderboard("M01", RETREQ_AROUNDUSER, 1, 0))
    Settle()
    local ok, rank, persona, score = lb:GetLeaderboardRetrievedEntry("M01", 0, 0, "", 0, false)
    AssertTrue(ok, "the user's row")
    local _, detail = lb:GetLeaderboardRetrievedEntryDetail("M01", 0, -1)
    return rank, persona, score, detail
end

Test("uploads: both forms reach the manager, wrong types take the earlier form", function()
    AssertTrue(lb:UpdateAndRetrieveLeaderboard("M01", 500, RETREQ_AROUNDUSER, 3, 0, true))
    Settle()
    AssertEqual(lb:GetLeaderboardRetrieveStatus("M01"), RETSTATUS_RETRIEVED)
    local count, userRow = lb:GetLeaderboardRetrievedEntriesNumber("M01", -5)
    AssertTrue(count >= 1, "rows around the user")
    local _, rank, persona, score = lb:GetLeaderboardRetrievedEntry("M01", userRow, 0, "", 0, false)
    AssertEqual(persona .. " " .. rank .. " " .. score, "Me 11 500")

    local cases = {
        {"with a detail", function() return lb:UpdateLeaderboard("M01", 600, 3, true) end, 600, 3},
        {"without", function() return lb:UpdateLeaderboard("M01", 650, true) end, 650, nil},
        {"a string detail takes the earlier form", function() return lb:UpdateLeaderboard("M01", 700, "x", true) end, 700, nil},
        {"retrieve with a detail", function() return lb:UpdateAndRetrieveLeaderboard("M01", 720, 4, RETREQ_AROUNDUSER, 1) end, 720, 4},
    }
    for _, c in ipairs(cases) do
        AssertTrue(c[2](), c[1])
        local rank, persona, score, detail = UserRow()
        AssertEqual(score, c[3], c[1])
        if c[4] then AssertEqual(detail, c[4], c[1]) end
    end
end)
