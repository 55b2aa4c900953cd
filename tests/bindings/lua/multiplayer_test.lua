-- The multiplayer package against an engine over a loopback link: what each call posts
-- to the network thread (read from its command ring), the players' lifetimes, the lobby
-- names and the chat.

local mp = Fixture.MultiplayerEngine()

-- The records posted by f, taken out of the ring.
local function Posted(f)
    Fixture.MultiplayerCommands()
    f()
    return Fixture.MultiplayerCommands()
end

local function Words(records)
    local out = {}
    for _, r in ipairs(records) do out[#out + 1] = r.id .. ":" .. table.concat(r.u32, ",") end
    return table.concat(out, " ")
end

Test("constants: the codes live in Network only", function()
    AssertEqual(Network.NETERROR_OK, 0)
    AssertEqual(Network.NETERROR_UNRECOVERABLE, 11)
    AssertEqual(NETERROR_OK, nil)
    AssertEqual(ELOBBYTEAM_ANY, 2)
    AssertEqual(ECHATENTRYTYPE_MAX, 6)
    AssertEqual(REPLICATEMETHOD_NOLOG, 1)
end)

Test("the state-update lag reads the float 0.2 and cannot be assigned", function()
    local float02 = 0.20000000298023224
    AssertEqual(STATE_UPDATE_LAG_S, float02)
    AssertRaises("read-only", function() STATE_UPDATE_LAG_S = 1 end)
    AssertEqual(STATE_UPDATE_LAG_S, float02)
    AssertEqual(rawget(_G, "STATE_UPDATE_LAG_S"), nil)
end)

Test("match commands: forms, defaults and fall-backs", function()
    local configured = Posted(function() mp:Host() end)[1].u32[1]
    local cases = {
        {"Host(0) hosts on the configured port", function() mp:Host(0) end, "9:" .. configured},
        {"Host('x') falls back to Host()", function() mp:Host("x") end, "9:" .. configured},
        {"Host(4000)", function() mp:Host(4000) end, "9:4000"},
        {"LobbyAutoMatch: ten values in order", function() mp:LobbyAutoMatch(1, 2, 3, 4, 5, 6, 7, 8, 9, true) end, "31:1,2,3,4,5,6,7,8,9,1"},
        {"LobbyCreatePrivate", function() mp:LobbyCreatePrivate() end, "19:"},
        {"LobbyRestore", function() mp:LobbyRestore() end, "20:"},
        {"LobbyAcceptJoinRequest", function() mp:LobbyAcceptJoinRequest() end, "21:"},
        {"LobbyLeave", function() mp:LobbyLeave() end, "23:"},
        {"LobbyInviteFriend", function() mp:LobbyInviteFriend() end, "29:"},
        {"LobbySwitchSides", function() mp:LobbySwitchSides() end, "30:"},
        {"LobbyStopAutoMatch", function() mp:LobbyStopAutoMatch() end, "32:"},
    }
    for _, c in ipairs(cases) do
        AssertEqual(Words(Posted(c[2])), c[3], c[1])
    end
    local params = Posted(function() mp:SetNetworkParams(1, 2, 3) end)
    AssertEqual(params[1].id, 18)
    AssertEqual(table.concat(params[1].f32, ","), "1,2,3,-1,-1,-1", "SetNetworkParams(1, 2, 3): the rest -1")
end)

-- A negative number for an unsigned index wraps: -1 is 0xFFFFFFFF, past every slot.
Test("negative unsigned indices wrap past every map, player and member", function()
    Fixture.SetLobby({{name = "Zoë"}})
    local cases = {
        {"map 2", function() mp:LobbySetSelectedMap(2) end, "33:2"},
        {"map -1 selects nothing", function() mp:LobbySetSelectedMap(-1) end, ""},
        {"map -2^32 + 1 selects nothing", function() mp:LobbySetSelectedMap(-2^32 + 1) end, ""},
    }
    for _, c in ipairs(cases) do AssertEqual(Words(Posted(c[2])), c[3], c[1]) end
    AssertFalse(mp:GetRemotePlayer(0) == nil, "slot 0 holds a player")
    AssertEqual(mp:GetRemotePlayer(-1), nil, "-1 is no slot")
    AssertEqual(mp:LobbyGetMemberNameLuaUnichar(0):GetLength(), 3)
    AssertEqual(mp:LobbyGetMemberNameLuaUnichar(-1):GetLength(), 0, "-1 is no member")
end)

Test("Join: ports left out are 0 (the remote one then the configured port)", function()
    local configured = Posted(function() mp:Host() end)[1].u32[1]
    local cases = {
        {function() mp:Join("h", 7777) end, 7777, 0},
        {function() mp:Join("h", 7777, 9) end, 7777, 9},
        {function() mp:Join("h", "x") end, configured, 0},
        {function() mp:Join("h", 7777, "x") end, configured, 0},  -- form 2 then fails its own test
    }
    for i, c in ipairs(cases) do
        local r = Posted(c[1])
        AssertEqual(#r, 1, "case " .. i)
        AssertEqual(r[1].id, 10, "case " .. i)
        AssertEqual(r[1].u32[1], c[2], "remote port, case " .. i)
        AssertEqual(r[1].u32[2], c[3], "local port, case " .. i)
    end
end)

Test("players: one remote slot, the local id as a float, dead after replacement", function()
    AssertEqual(mp:GetRemotePlayer(1), nil)
    AssertEqual(mp:GetLocalPlayer():GetPeerID(), 4294967296)
    AssertTrue(mp:GetLocalPlayer():IsLocal())
    local remote = mp:GetRemotePlayer(0)
    AssertEqual(remote:GetPeerID(), 1)
    mp:InitRemotePlayers(1)
    AssertRaises("dead", function() return remote:IsLocal() end)
    AssertEqual(Results(mp:SynchronizePlayer(remote)), "0")
    AssertFalse(mp:GetRemotePlayer(0) == remote)
end)

Test("the controller: nil once its entity is gone; only entities or nil are taken", function()
    local p = mp:GetLocalPlayer()
    local e = Fixture.Entity(0, 0, 0)
    p:SetPlayerControllerRaw(e)
    AssertEqual(p:GetPlayerController(), e)
    AssertEqual(Results(p:SetPlayerControllerRaw(5)), "0")
    AssertEqual(Results(p:SetPlayerControllerRaw(mp)), "0")
    AssertEqual(p:GetPlayerController(), e, "a rejected call keeps the controller")
    Fixture.Destroy(e)
    AssertEqual(Results(p:GetPlayerController()), "1 nil")
    local f = Fixture.Entity(1, 0, 1)
    p:SetPlayerControllerRaw(f)
    AssertEqual(Results(p:SetPlayerControllerRaw(e)), "0")
    AssertEqual(p:GetPlayerController(), f, "a dead entity is rejected and keeps the controller")
    p:SetPlayerControllerRaw(nil)
    AssertEqual(p:GetPlayerController(), nil)
end)

Test("member names: terminated UTF-16, empty for absent members", function()
    Fixture.SetLobby({{name = "Zoë Ünal", skill = 1.5, ready = true}})
    local name = mp:LobbyGetMemberNameLuaUnichar(0)
    AssertEqual(name:GetLength(), 8)
    AssertEqual(table.concat(Fixture.Units(name), ","), "90,111,235,32,220,110,97,108,0")
    for _, member in ipairs({1, 2, 2^31}) do
        AssertEqual(mp:LobbyGetMemberNameLuaUnichar(member):GetLength(), 0, tostring(member))
    end
    AssertEqual(mp:LobbyGetMemberSquadSkill(0), 1.5)
    AssertTrue(mp:LobbyGetMemberReady(0))
    AssertFalse(mp:LobbyGetMemberReady(5))
    AssertEqual(mp:LobbyGetMemberSquadSkill(5), 0)
end)

Test("chat: a string is sent and echoed; anything else sends nothing", function()
    Fixture.SetLobby({{name = "Zoë"}})
    local before = #Fixture.ChatEchoes()
    local sent = Posted(function() mp:SendChatMessageUnicharPtr(true, Fixture.Unicode("hi")) end)
    AssertEqual(#sent, 1)
    AssertEqual(sent[1].id, 15)
    AssertEqual(sent[1].bytes, "\2\0\0\0h\0i\0\1")
    local echoes = Fixture.ChatEchoes()
    AssertEqual(#echoes, before + 1)
    AssertEqual(table.concat(echoes[#echoes], ","), "90,111,235,58,32,104,105")
    local pointer = Fixture.Unicode("lost"):GetUnicharPtr()
    collectgarbage()
    collectgarbage()
    local rejected = {
        {"a number", 5},
        {"nil", nil},
        {"a collected string's pointer", pointer},
        {"another class's object", mp},
    }
    for _, c in ipairs(rejected) do
        local records = Posted(function() AssertEqual(Results(mp:SendChatMessageUnicharPtr(true, c[2])), "0", c[1]) end)
        AssertEqual(#records, 0, c[1])
    end
    AssertEqual(#Fixture.ChatEchoes(), before + 1)
    local live = Fixture.Unicode("ok")
    AssertEqual(#Posted(function() mp:SendChatMessageUnicharPtr(false, live:GetUnicharPtr()) end), 1, "a live buffer")
end)
