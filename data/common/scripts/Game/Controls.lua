-- The player's controls during the mission, read once a frame: P pauses and resumes, A
-- arms an airstrike that the next left click on the ground drops, R repairs the squad,
-- the mouse wheel moves the camera in and out, Escape abandons the mission and the grave
-- key shows or hides the console. Each logs its line. While the console shows, the keys
-- are its typing: only the grave key (which hides it again) and the wheel act.

Controls = {}

local GROUND_PLANE = Vector:Instance(0, 1, 0, 0)  -- y = 0
-- The game's pointer: a 32 x 32 arrow of the "textures" set, its tip at the top left.
local CURSOR = "Outpost/Cursor.tga"
local CURSOR_HOTSPOT = {0, 0}
local armed = false
-- The frame's presses, in the order they came, until the next fixed step acts on them:
-- a key's first press shows in one frame only, and a frame of a fast desktop may run no
-- fixed step, so presses are read every frame and the mission's rules take them at its
-- next step. Each entry is {what, x, z}.
local queued = {}

-- At the program's start, once: the game's pointer over the window, from the menu on.
function Controls.ShowPointer()
    gGame:SetHardwareCursor(CURSOR, CURSOR_HOTSPOT[1], CURSOR_HOTSPOT[2])
    gGame:EnableHardwareCursor(true, false)
end

-- At the mission's start: nothing armed, nothing queued.
function Controls.Begin()
    armed = false
    queued = {}
end

local function Pressed(key)
    return gGame:IsKeyPressedForTheFirstTime(key)
end

local function TogglePause()
    local pause = not gGame:IsUserPaused()
    gGame:SetUserPause(pause)
    gConsole:Print(string.format(pause and "Paused at step %d" or "Resumed at step %d", Flow.step))
end

local function Queue(what, x, z)
    queued[#queued + 1] = {what, x, z}
end

-- The ground under the pointer of a left click, queued for an armed airstrike.
local function QueueGroundClick()
    local at = Vector:Instance(0, 0, 0, 0)
    if gGame:LoadScreenPointProjectedOnWorldPlane(gGame:GetCursorPosition(), GROUND_PLANE, at) then
        Queue("click", at.x, at.z)
    end
end

-- Once a frame, ticked or not (a paused game's frames run no fixed step): the wheel's
-- turn, the console, P, and the presses queued for the next step.
local readFrame = -1
function Controls.OnFrame()
    local frame = gGame:GetCurrentFrame()
    if frame == readFrame then
        return
    end
    readFrame = frame
    if Pressed(DIK_GRAVE) then
        gConsole:Toggle()
    end
    local typing = gGame:IsGameConsoleActive()
    if not Mission.IsRunning() then
        queued = {}
        return
    end
    local wheel = gGame:GetMouseWheel()
    if wheel ~= 0 then
        -- Away from the player (positive) moves the camera in.
        Mission.Zoom(wheel > 0 and -1 or 1)
    end
    if typing then
        return
    end
    if Pressed(DIK_P) then
        TogglePause()
    end
    if gGame:IsUserPaused() then
        queued = {}
        return
    end
    if Pressed(DIK_ESCAPE) then
        Queue("abandon")
    end
    if Pressed(DIK_A) then
        Queue("arm")
    end
    if gGame:IsMouseButtonPressedForTheFirstTime(LEMB_LEFT) then
        QueueGroundClick()
    end
    if Pressed(DIK_R) then
        Queue("repair")
    end
end

-- One fixed step: the queued presses, in order.
function Controls.OnTick()
    local presses = queued
    queued = {}
    for _, press in ipairs(presses) do
        if not Mission.IsRunning() then
            break
        end
        local what = press[1]
        if what == "abandon" then
            Mission.Abandon()
        elseif what == "arm" then
            if not armed and Mission.AirstrikesLeft() > 0 then
                armed = true
                gConsole:Print("Airstrike armed")
            end
        elseif what == "click" then
            if armed then
                armed = false
                Mission.Airstrike(press[2], press[3])
            end
        elseif what == "repair" then
            Mission.Repair()
        end
    end
    if not Mission.IsRunning() then
        armed = false
    end
end
