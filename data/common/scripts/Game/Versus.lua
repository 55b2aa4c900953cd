-- The versus match on "Outpost" between two programs: the host plays the squad, the guest
-- the towers.
--
-- The host makes a private lobby, publishes its skills and grade and invites its friend
-- until the friend is in; the guest accepts the join request. The lobby screen shows both
-- members' names, avatars and readiness; each side readies once both are in. On the
-- lobby's start request both load "Outpost": the host hosts once it is in, the guest
-- joins as a multiplayer client. The host synchronises the connected player and, once it
-- is ready, spawns the towers (owned by the guest's player) and then the walkers over
-- time, all as authority entities whose position, rotation and health replicate. The
-- walkers walk the route and fire back, the gun towers shoot; the guest aims the shields
-- from the walkers it sees and sends the angles to the host, which turns them.
--
-- The match ends when every walker alive has reached the route's end (the squad wins),
-- when none is left or at the time limit (the towers win); it stands still while the
-- guest's connection stalls. The host stops everything and tells the guest, which sends
-- no more orders; it waits two seconds and sends the result; each side then logs its replicated
-- entities and the result, records the match in its versus stats, leaves and quits. A
-- player that vanishes before the result ends the match as abandoned: no win or loss is
-- recorded.

Versus = {}

local STEP = 1 / 15                 -- seconds of game time per fixed step
local MATCH_SECONDS = 30            -- the match's time limit (game time)
local SETTLE_SECONDS = 2.0          -- between the stop and the result
local SHIELD_PERIOD = 0.5           -- seconds between two shield orders of the guest
local SHIELD_RANGE = 24.0
local SHIELD_SECTOR = 45
local SHIELD_MASK = {1, 1, 0, 0, 0, 0, 0, 0}
local INVITE_PERIOD = 1.0           -- real seconds between two invitations
local CONNECT_WAIT_SECONDS = 120.0 -- the longest wait in the lobby and for the game to connect
local RECORD_WAIT_SECONDS = 10.0    -- the longest wait for the profile's data before recording
local LEAVE_WAIT_SECONDS = 10.0     -- the host's longest wait for the guest to leave
local SQUAD_SKILL, TOWERS_SKILL, GRADE = 1000, 1000, 1
local HEALTH_PROPERTY = 3           -- after the standard PosXZ, PosY and Rot
local ROT_PROPERTY = 2
local LOBBY_RECIPE = "UI/Lobby"
local GREETING = {host = "Greetings from the squad", guest = "Greetings from the towers"}
local STATS = {
    squad = {won = "MPSquadWinsNum", lost = "MPSquadLossesNum", games = "MPUnrankedSquadGamesNum"},
    towers = {won = "MPTowersWinsNum", lost = "MPTowersLossesNum", games = "MPUnrankedTowersGamesNum"},
}
local MAP_STATS = {won = "MPMap0WinsNum", lost = "MPMap0LossesNum"}

local role = nil                    -- "host" or "guest"; nil outside a versus scenario
-- lobby, loading, connecting, playing, settling, leaving, done
local state = "idle"
local clock = Time:Instance()
local started = Time:Instance()
local nextInvite = 0
local readied = false
-- The guest accepts one invitation: the host repeats it until the guest is in, and an
-- accept with none pending is a lobby error.
local joinAccepted = false
local loggedNames = {}
local loggedReady = {}
local lobbyScreen = LuaUIPointer:Instance()
local sceneIn = false
local gameStarted = false
local waitUntil = -1                -- the end of the lobby's or the connection's wait (real time)
local guestPlayer = nil             -- the host's remote player while it is connected
local guestReady = false
local stalled = false
local level = nil
local steps, settleSteps, shieldTimer = 0, 0, 0
local leaveAt = -1
local shieldCalls = 0
local outcome = nil
-- The match's record while it waits for the profile's data: {winner = side or nil}.
local unrecorded = nil
local recordUntil = -1
local quitRequested = false
-- Every replicated entity either side has seen: {pointer, kind}.
local entities = {}

local function Seconds()
    clock:LoadHardwareTime()
    return clock:ElapsedTime(started)
end

local function Engine()
    return gMultiplayerEngine
end

local function Unicode(text)
    local s = LuaUnicodeString:Instance()
    for i = 1, #text do
        s:AppendChar(string.byte(text, i))
    end
    return s
end

function Versus.IsMode(mode)
    return mode == "versus-host" or mode == "versus-guest"
end

function Versus.Active()
    return role ~= nil
end

-- ---- the entities' multiplayer properties ----

-- Called by the entity classes' InitMPProperties on both sides: the health property
-- after the standard ones (a proxy is told of its changes), and the entity noted for the
-- final listing.
function Versus.InitEntity(entity, kind)
    if role == nil then
        return
    end
    local index = entity:MPPropAddInt(0, MPPROPTYPE_INT, MPPROPFLAG_CALLBACK, 0, 1023, "Health")
    if index ~= HEALTH_PROPERTY then
        gConsole:PrintError(string.format("Versus: %s health property at %d", kind, index))
    end
    table.insert(entities, {pointer = LuaEntityPointer:Instance(entity), kind = kind,
        id = entity:GetMultiplayerId(), health = nil})
    if entity:IsMultiplayerProxy() then
        gConsole:Print(string.format("Proxy %d %s", entity:GetMultiplayerId(), kind))
    end
end

-- A proxy takes the replicated health as its own, when it starts and on each change (the
-- engine places and turns it).
function Versus.OnReplicated(entity)
    if role ~= "guest" or entity == nil or not entity:IsMultiplayerProxy() then
        return
    end
    local id = entity:GetMultiplayerId()
    for _, e in ipairs(entities) do
        if e.id == id then
            e.health = entity:MPPropGetInt(HEALTH_PROPERTY)
        end
    end
end

-- The host's record of an entity's state: position, heading (degrees about y) and health.
function Versus.Publish(entity, x, y, z, heading, health)
    if role ~= "host" or entity == nil or not entity:IsMultiplayerAuthority() then
        return
    end
    entity:MPPropSetPosition(Vector:Instance(x, y, z, 1), false)
    if heading ~= nil then
        entity:MPPropSetRotation(Vector:Instance(0, heading, 0, 1), false)
    end
    if health ~= nil then
        entity:MPPropSetInt(HEALTH_PROPERTY, math.max(0, math.ceil(health)), false)
    end
end

-- The guest's shield order, run by the host on the tower (replicated to the server); it
-- turns the shield while the match runs.
function ShieldTower:TurnShield(angle)
    if role ~= "host" then
        return
    end
    shieldCalls = shieldCalls + 1
    gConsole:Print(string.format("Shield call run %d", shieldCalls))
    -- An order comes from the other program: only a finite angle turns the shield.
    local finite = type(angle) == "number" and angle == angle and angle > -math.huge and angle < math.huge
    local tower = Towers.FindByName(self:GetName())
    if finite and tower ~= nil and tower.alive and state == "playing" then
        Towers.SetShieldAngle(tower, angle)
    end
end
ReplicateMethod(ShieldTower, "TurnShield", toServer, reliable)

-- The host's stop, run by the guest: no more orders.
function Player:VersusStop()
    if role == "guest" and state == "playing" then
        state = "settling"
        gConsole:Print("Versus: stopped by the host")
    end
end
ReplicateMethod(Player, "VersusStop", toClient, reliable)

-- A player that vanishes before the result, or a result that cannot be read, ends the
-- match as abandoned.
local function Abandon(why)
    gConsole:Print(string.format("Versus: %s", why))
    gConsole:Print("Versus result: abandoned")
    Versus.RecordWhenReady({winner = nil})
    Versus.Quit()
end

-- The host's result, run by the guest.
function Player:VersusResult(winner, score, hostSteps)
    if role ~= "guest" or state == "done" then
        return
    end
    -- The result comes from the other program: only a well-formed one is recorded.
    if (winner == "squad" or winner == "towers") and type(score) == "number" and type(hostSteps) == "number" then
        Versus.End(winner, score, hostSteps)
    else
        Abandon("the host's result is not valid")
    end
end
ReplicateMethod(Player, "VersusResult", toClient, reliable)

-- ---- the lobby ----

local function ShowLobby()
    local screen = Hud.ScreenFromRecipe(LOBBY_RECIPE, false)
    if screen == nil then
        return
    end
    gGame:SetActiveUIScreen(screen)
    lobbyScreen:Set(screen)
end

-- Logs each member's name when it changes and its readiness once, as the lobby's member
-- data shows them.
local function LogMembers(mp)
    for member = 0, 1 do
        if mp:LobbyGetMemberPresent(member) then
            local text = gConfigHelper:ToAsciiUnsafe(mp:LobbyGetMemberNameLuaUnichar(member))
            if loggedNames[member] ~= text then
                loggedNames[member] = text
                gConsole:Print(string.format("Lobby: member %d %s", member, text))
            end
            if mp:LobbyGetMemberReady(member) and not loggedReady[member] then
                loggedReady[member] = true
                gConsole:Print(string.format("Lobby: member %d ready", member))
            end
        end
    end
end

local function UpdateLobbyScreen()
    local mp = Engine()
    local screen = lobbyScreen:Get()
    LogMembers(mp)
    for member = 0, 1 do
        if mp:LobbyGetMemberPresent(member) then
            local name = mp:LobbyGetMemberNameLuaUnichar(member)
            local ready = mp:LobbyGetMemberReady(member)
            if screen ~= nil then
                local row = "Member" .. (member + 1)
                local nameText = screen:FindElementByName(row .. "Name")
                if nameText ~= nil then
                    nameText:SetText(name)
                end
                local avatar = screen:FindElementByName(row .. "Avatar")
                if avatar ~= nil then
                    avatar:SetSteamTexture(mp:LobbyGetMemberAvatar(member), 0)
                end
                local stateText = screen:FindElementByName(row .. "State")
                if stateText ~= nil then
                    stateText:SetLocalizedText(ready and "Lobby/Ready" or "Lobby/Waiting")
                end
            end
        end
    end
    if not readied and not gameStarted and mp:LobbyGetMemberPresent(0) and mp:LobbyGetMemberPresent(1) then
        readied = true
        mp:LobbySetReady(true)
    end
end

-- At the first scene: the lobby opens.
function Versus.Begin(scenario)
    role = scenario.mode == "versus-host" and "host" or "guest"
    started:LoadHardwareTime()
    if math.randomseed ~= nil then
        math.randomseed(scenario.seed)
    end
    local mp = Engine()
    if mp == nil then
        gConsole:PrintError("Versus: no multiplayer engine")
        Versus.Quit()
        return
    end
    state = "lobby"
    waitUntil = Seconds() + CONNECT_WAIT_SECONDS
    -- The match's one remote player: the guest at the host, the host at the guest.
    mp:InitRemotePlayers(1)
    ShowLobby()
    mp:LobbySetSkill(SQUAD_SKILL, TOWERS_SKILL)
    mp:LobbySetGrade(GRADE)
    if role == "host" then
        mp:LobbyCreatePrivate()
        nextInvite = INVITE_PERIOD
    end
    gConsole:Print(string.format("Versus: %s in the lobby", role))
end

function Versus.OnLobbyUpdated()
    if role ~= nil and state == "lobby" then
        UpdateLobbyScreen()
    end
end

function Versus.OnLobbyJoinRequested()
    if role == "guest" and state == "lobby" and not joinAccepted then
        joinAccepted = true
        Engine():LobbyAcceptJoinRequest()
    end
end

function Versus.OnLobbyGameStartRequest(map, hosted, ranked)
    if role == nil or gameStarted then
        return
    end
    gameStarted = true
    -- The member data that started the game may not have reached an update yet; the lobby
    -- clears the readiness only after this call.
    LogMembers(Engine())
    gConsole:Print(string.format("Versus: start request, map %d, %s", map, hosted and "hosting" or "joining"))
    if hosted ~= (role == "host") then
        gConsole:PrintWarning("Versus: the lobby chose the other side to host")
        role = hosted and "host" or "guest"
    end
    state = "loading"
    lobbyScreen:SetNull()
    Flow.SwitchToVersus(role == "guest")
end

function Versus.OnLobbyError(code)
    gConsole:PrintError(string.format("Versus: lobby error %d", code))
    if role ~= nil and state == "lobby" then
        Versus.Quit()
    end
end

-- ---- the game ----

-- Outpost is in: the host hosts, the guest joins.
function Versus.OnSceneLoaded()
    sceneIn = true
    level = OutpostScene.Read()
    -- Entities are found again when needed, never kept from frame to frame.
    level.towerMarkers, level.ribbon, level.minefield = nil, nil, nil
    Squad.Reset()
    Towers.Reset()
    if level.start ~= nil then
        Squad.BuildRoute(level.start)
    end
    state = "connecting"
    waitUntil = Seconds() + CONNECT_WAIT_SECONDS
    if role == "host" then
        Engine():Host(0)
    else
        Engine():Join("", 0, 0)
    end
end

local function Greet()
    Engine():SendChatMessageUnicharPtr(false, Unicode(GREETING[role]))
end

function Versus.OnGameHosted(result)
    gConsole:Print(string.format("Versus: hosted, result %d", result))
    if result ~= Network.NETERROR_OK then
        Abandon("the game could not be hosted")
    end
end

function Versus.OnGameJoined(result)
    gConsole:Print(string.format("Versus: joined, result %d", result))
    if role ~= "guest" then
        return
    end
    if result == Network.NETERROR_OK then
        state = "playing"
        Greet()
    else
        Abandon("the game could not be joined")
    end
end

function Versus.OnPlayerConnecting()
    local accept = role == "host" and guestPlayer == nil
    gConsole:Print(string.format("Versus: player connecting, %s", accept and "accepted" or "refused"))
    return accept
end

function Versus.OnPlayerConnected(player)
    if role ~= "host" then
        return
    end
    gConsole:Print("Versus: player connected")
    guestPlayer = player
    Engine():SynchronizePlayer(player)
end

local function SpawnTowers()
    local flags = ENTITYCREATION_MULTIPLAYER_AUTHORITY
    Towers.Spawn(OutpostScene.TowerMarkers(), Flow.scenario.difficulty, flags, guestPlayer)
    for _, tower in ipairs(Towers.list) do
        local entity = Towers.Entity(tower)
        if entity ~= nil then
            Versus.Publish(entity, tower.x, 0, tower.z, tower.angle, tower.health)
            gConsole:Print(string.format("Spawned %d %s", entity:GetMultiplayerId(), tower.gun and "GunTower" or "ShieldTower"))
        end
    end
end

function Versus.OnPlayerReady(player)
    if role ~= "host" or guestReady then
        return
    end
    guestReady = true
    gConsole:Print("Versus: player ready")
    if not sceneIn then
        return
    end
    SpawnTowers()
    steps = 0
    state = "playing"
    Greet()
end

function Versus.OnChatMessage(lobby, kind, text)
    if role == nil then
        return
    end
    gConsole:Print(string.format("Chat: %s", gConfigHelper:ToAsciiUnsafe(text)))
end

function Versus.OnPlayerDisconnected(player, reason)
    if role ~= "host" then
        return
    end
    gConsole:Print(string.format("Versus: player disconnected, reason %d", reason))
    guestPlayer = nil
    if state == "leaving" then
        Versus.Quit()
    elseif state ~= "done" then
        Abandon("the guest left before the end")
    end
end

function Versus.OnConnectionStall(player)
    gConsole:Print("Versus: connection stalled")
    stalled = true
end

function Versus.OnConnectionResume(player)
    gConsole:Print("Versus: connection resumed")
    stalled = false
end

function Versus.OnGameDisconnected(reason)
    if role ~= "guest" then
        return
    end
    gConsole:Print(string.format("Versus: disconnected, reason %d", reason))
    if state ~= "done" and state ~= "leaving" then
        Abandon("the host left before the end")
    end
end

-- ---- the host's rules, one fixed step ----

local function SpawnStep()
    local unit = Squad.SpawnStep(level, STEP, ENTITYCREATION_MULTIPLAYER_AUTHORITY)
    local entity = unit ~= nil and Squad.Entity(unit) or nil
    if entity ~= nil then
        Versus.Publish(entity, unit.x, 0, unit.z, 0, unit.health)
        gConsole:Print(string.format("Spawned %d %s", entity:GetMultiplayerId(), "SquadUnit"))
    end
end

local function Stop(winner)
    local survivors = Squad.Counts()
    outcome = {winner = winner, score = survivors * 1000 + Towers.destroyed * 250, steps = steps}
    state = "settling"
    settleSteps = 0
    gConsole:Print(string.format("Versus: stopped at step %d", steps))
    if guestPlayer ~= nil then
        guestPlayer:VersusStop()
    end
end

local function HostStep()
    steps = steps + 1
    SpawnStep()
    for _, unit in ipairs(Squad.units) do
        Squad.Walk(unit, STEP)
    end
    Towers.Step(STEP)
    for _, unit in ipairs(Squad.units) do
        Squad.FireBack(unit, STEP, Towers.list)
    end
    local alive, arrived = Squad.Counts()
    local allOut = Squad.Waiting(level) == 0
    if allOut and alive > 0 and arrived == alive then
        Stop("squad")
    elseif allOut and alive == 0 then
        Stop("towers")
    elseif steps * STEP >= MATCH_SECONDS then
        Stop("towers")
    end
end

-- ---- the guest's shields ----

local function ProxiesOf(kind)
    local out = {}
    for _, e in ipairs(entities) do
        local entity = e.pointer:Get()
        if e.kind == kind and entity ~= nil then
            table.insert(out, entity)
        end
    end
    return out
end

local function GuestStep()
    shieldTimer = shieldTimer - STEP
    if shieldTimer > 0 then
        return
    end
    shieldTimer = SHIELD_PERIOD
    local walkers = ProxiesOf("SquadUnit")
    for _, tower in ipairs(ProxiesOf("ShieldTower")) do
        local at = tower:GetGlobalPosition()
        local near = {}
        for _, walker in ipairs(walkers) do
            local p = walker:GetGlobalPosition()
            if math.sqrt((p.x - at.x) ^ 2 + (p.z - at.z) ^ 2) <= SHIELD_RANGE then
                table.insert(near, walker)
            end
        end
        if #near > 0 then
            local current = tower:MPPropGetVec(ROT_PROPERTY).y
            -- The bearings come back at keys 0 to n-1; the cover reads them from key 1.
            local bearings = zkr2_towerRotoShield_ComputeAttackAngles(tower, near)
            local n = 0
            while bearings[n] ~= nil do
                n = n + 1
            end
            for i = n, 1, -1 do
                bearings[i] = bearings[i - 1]
            end
            bearings[0] = nil
            local angle = zkr2_towerRotoShield_ComputeMaxCoverAngle(current, bearings, SHIELD_MASK, SHIELD_SECTOR)
            shieldCalls = shieldCalls + 1
            gConsole:Print(string.format("Shield call sent %d", shieldCalls))
            tower:TurnShield(angle)
        end
    end
end

function Versus.OnTick()
    if role == nil then
        return
    end
    if quitRequested then
        Versus.Close()
        return
    end
    if role == "host" and stalled then
        return
    end
    if role == "host" and state == "playing" and guestReady then
        HostStep()
    elseif role == "host" and state == "settling" then
        settleSteps = settleSteps + 1
        if settleSteps * STEP >= SETTLE_SECONDS then
            if guestPlayer ~= nil then
                guestPlayer:VersusResult(outcome.winner, outcome.score, outcome.steps)
            end
            Versus.End(outcome.winner, outcome.score, outcome.steps)
        end
    elseif role == "guest" and state == "playing" then
        GuestStep()
    end
end

-- Real-clock work of every frame: invitations, the waits in the lobby and for the game to
-- connect, and the host's wait, after the result, for its player to leave.
function Versus.OnFrame()
    if role == nil then
        return
    end
    local now = Seconds()
    local mp = Engine()
    if role == "host" and state == "lobby" and not mp:LobbyGetMemberPresent(1) and now >= nextInvite then
        mp:LobbyInviteFriend()
        nextInvite = now + INVITE_PERIOD
    end
    if now >= waitUntil and (state == "lobby" or (state == "connecting" and not guestReady)) then
        Abandon(state == "lobby" and "no game started from the lobby" or "the game did not connect")
    end
    if role == "host" and state == "leaving" and (guestPlayer == nil or now >= leaveAt) then
        Versus.Quit()
    end
end

-- ---- the end ----

-- The heading (degrees about y, 0 to 360) the entity is turned to.
local function Heading(entity)
    local q = entity:GetGlobalRotation()
    return math.fmod(math.deg(2 * math.atan2(q.y, q.w)) + 720, 360)
end

local function LogEntities()
    local list = {}
    for _, e in ipairs(entities) do
        local entity = e.pointer:Get()
        if entity ~= nil then
            table.insert(list, {entity = entity, kind = e.kind, id = entity:GetMultiplayerId(), health = e.health})
        end
    end
    table.sort(list, function(a, b) return a.id < b.id end)
    for _, e in ipairs(list) do
        local entity = e.entity
        local health = e.health
        if role == "host" then
            -- The host's own rules hold the health of what it owns.
            local owner = e.kind == "SquadUnit" and Squad.FindByName(entity:GetName()) or
                Towers.FindByName(entity:GetName())
            health = owner ~= nil and math.max(0, math.ceil(owner.health)) or nil
        end
        local p = entity:GetGlobalPosition()
        gConsole:Print(string.format("Versus entity %d %s %.2f %.2f %.1f %d", e.id, e.kind, p.x, p.z,
            Heading(entity), health or -1))
    end
end

-- The match in the versus stats (an abandoned one, without a winner, raises none).
local function Record(r, profile)
    if r.winner ~= nil then
        local side = role == "host" and "squad" or "towers"
        local result = r.winner == side and "won" or "lost"
        local function Raise(stat)
            profile:UpdateUnsignedStatValue(stat, profile:GetUnsignedStatValue(stat) + 1)
        end
        Raise(STATS[side][result])
        Raise(STATS[side].games)
        Raise(MAP_STATS[result])
    end
    if not profile:StoreStats() then
        gConsole:PrintWarning("Versus: the stats could not be stored")
    end
end

-- Records the match once the profile's data has arrived. Answers whether nothing is left
-- to record.
function Versus.RecordWhenReady(r)
    if r ~= nil then
        unrecorded = r
        recordUntil = Seconds() + RECORD_WAIT_SECONDS
    end
    if unrecorded == nil then
        return true
    end
    local pending = unrecorded
    if not Profile.RecordWhenReady("Versus", function(profile) Record(pending, profile) end,
        Seconds() < recordUntil) then
        return false
    end
    unrecorded = nil
    return true
end

function Versus.End(winner, score, hostSteps)
    LogEntities()
    gConsole:Print(string.format("Versus result: winner %s score %d steps %d", winner, score, hostSteps))
    Versus.RecordWhenReady({winner = winner})
    if role == "host" and guestPlayer ~= nil then
        -- The guest leaves once the result is in; the host waits for its delivery.
        state = "leaving"
        leaveAt = Seconds() + LEAVE_WAIT_SECONDS
        return
    end
    Versus.Quit()
end

-- Ends the match; the program closes at the next step, out of the network's callbacks
-- that may have called this.
function Versus.Quit()
    if state == "done" then
        return
    end
    state = "done"
    quitRequested = true
end

-- Leaves the game and the lobby and quits, once the match is recorded.
function Versus.Close()
    if not Versus.RecordWhenReady(nil) then
        return
    end
    quitRequested = false
    local mp = Engine()
    if mp ~= nil then
        if mp:IsMultiplayerGame() then
            mp:Disconnect(false)
        end
        mp:LobbyLeave()
    end
    gGame:Quit()
end
