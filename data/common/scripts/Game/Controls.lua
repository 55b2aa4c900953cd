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

function Controls.OnTick()
    if Pressed(DIK_GRAVE) then
        gConsole:Toggle()
    end
    if not Mission.IsRunning() then
        armed = false
        return
    end
    if Pressed(DIK_P) then
        TogglePause()
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
    local wheel = gGame:GetMouseWheel()
    if wheel ~= 0 then
        -- Away from the player (positive) moves the camera in.
        Mission.Zoom(wheel > 0 and -1 or 1)
    end
end

-- While paused only P (resume), the console and Escape count.
function Controls.OnPauseTick()
    if Pressed(DIK_GRAVE) then
        gConsole:Toggle()
    end
    if gGame:IsUserPaused() and Pressed(DIK_P) then
        TogglePause()
    end
end
