-- The player's profile: its events (the engine calls them on the profile with the profile
-- as self) and the game's script errors, which are logged and counted.

Profile = {}

-- The profile between its "OnInit" and its "OnRelease"; nil without one.
local current = nil
local dataRetrieved = false
Profile.errors = 0

gLua:RegisterClass("PCMacGamerProfile", "LCZKRGamerProfile")

function PCMacGamerProfile:OnInit()
    current = self
    gConsole:Print("Profile: logged in")
end

function PCMacGamerProfile:OnDataRetrieved()
    dataRetrieved = true
    gConsole:Print(string.format("Profile: data retrieved, last finished mission %d",
        self:GetLastFinishedMissionNumericalId(0)))
end

function PCMacGamerProfile:OnRelease()
    current = nil
    dataRetrieved = false
end

function PCMacGamerProfile:OnGameOverlayActivated(active) end

-- The profile while logged in, else nil.
function Profile.Get()
    return current
end

function Profile.IsReady()
    return current ~= nil and dataRetrieved
end

-- Every failed script run reports here (the host calls it with the error's message).
function _ERRORMESSAGE(message)
    Profile.errors = Profile.errors + 1
    gConsole:PrintError("Script error: " .. tostring(message))
end
