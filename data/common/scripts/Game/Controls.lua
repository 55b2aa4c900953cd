-- The player's controls during the mission, read once per fixed step: P pauses and
-- resumes, A arms an airstrike that the next left click on the ground drops, R repairs
-- the squad, the mouse wheel moves the camera in and out, Escape abandons the mission and
-- the grave key shows or hides the console. Each logs its line.

Controls = {}

local GROUND_PLANE = Vector:Instance(0, 1, 0, 0)  -- y = 0
-- The game's pointer: a 32 x 32 arrow of the "textures" set, its tip at the top left.
local CURSOR = "Outpost/Cursor.tga"
local CURSOR_HOTSPOT = {0, 0}
local armed = false

-- At the mission's start: the game's pointer over the window.
function Controls.Begin()
    armed = false
    gGame:SetHardwareCursor(CURSOR, CURSOR_HOTSPOT[1], CURSOR_HOTSPOT[2])
    gGame:EnableHardwareCursor(true, false)
end

local function Pressed(key)
    return gGame:IsKeyPressedForTheFirstTime(key)
end

local function TogglePause()
    local pause = not gGame:IsUserPaused()
    gGame:SetUserPause(pause)
    gConsole:Print(string.format(pause and "Paused at step %d" or "Resumed at step %d", Flow.step))
end

local function DropAirstrike()
    local at = Vector:Instance(0, 0, 0, 0)
    if gGame:LoadScreenPointProjectedOnWorldPlane(gGame:GetCursorPosition(), GROUND_PLANE, at) then
        armed = false
        Mission.Airstrike(at.x, at.z)
    end
end

-- Keys count once a frame: a frame may run several fixed steps on one reading of the
-- input. Answers whether this frame's keys are still to be read.
local keysFrame = -1
local function KeysOfNewFrame()
    local frame = gGame:GetCurrentFrame()
    if frame == keysFrame then
        return false
    end
    keysFrame = frame
    return true
end

function Controls.OnTick()
    if not KeysOfNewFrame() then
        return
    end
    if Pressed(DIK_GRAVE) then
        gConsole:Toggle()
    end
    if not Mission.IsRunning() then
        armed = false
        return
    end
    if Pressed(DIK_P) then
        TogglePause()
        return
    end
    if Pressed(DIK_ESCAPE) then
        Mission.Abandon()
        return
    end
    if Pressed(DIK_A) and not armed and Mission.AirstrikesLeft() > 0 then
        armed = true
        gConsole:Print("Airstrike armed")
    elseif armed and gGame:IsMouseButtonPressedForTheFirstTime(LEMB_LEFT) then
        DropAirstrike()
    end
    if Pressed(DIK_R) then
        Mission.Repair()
    end
end

-- Once a frame, ticked or not: the wheel's turn (the frame's) and, while paused, P
-- (resume) and the console, since the frames of a paused game run no fixed step.
local wheelFrame = -1
function Controls.OnFrame()
    local frame = gGame:GetCurrentFrame()
    if frame ~= wheelFrame then
        wheelFrame = frame
        local wheel = gGame:GetMouseWheel()
        if wheel ~= 0 and Mission.IsRunning() then
            -- Away from the player (positive) moves the camera in.
            Mission.Zoom(wheel > 0 and -1 or 1)
        end
    end
    if not gGame:IsUserPaused() or not KeysOfNewFrame() then
        return
    end
    if Pressed(DIK_GRAVE) then
        gConsole:Toggle()
    end
    if Pressed(DIK_P) then
        TogglePause()
    end
end
