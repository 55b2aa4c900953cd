-- The player's profile: its events (the engine calls them on the profile with the profile
-- as self). Script errors need nothing here: the engine logs and counts them.

Profile = {}

local dataRetrieved = false

-- The profile's events: the engine calls them on the logged-in profile (the script class
-- of the desktop's profile, found through its base).
function LCZKRGamerProfile:OnInit()
    dataRetrieved = false
    gConsole:Print("Profile: logged in")
end

function LCZKRGamerProfile:OnDataRetrieved()
    dataRetrieved = true
    gConsole:Print(string.format("Profile: data retrieved, last finished mission %d",
        self:GetLastFinishedMissionNumericalId(0)))
end

function LCZKRGamerProfile:OnRelease()
    dataRetrieved = false
end

function LCZKRGamerProfile:OnGameOverlayActivated(active) end

-- The logged-in profile, found again on each call; nil without one.
function Profile.Get()
    if gGameDelegate == nil or gGameDelegate.GetLoggedInProfile == nil then
        return nil
    end
    return gGameDelegate:GetLoggedInProfile()
end

function Profile.IsReady()
    return dataRetrieved and Profile.Get() ~= nil
end

-- Records a finished game (`record(profile)`) once the profile's data has arrived: writes
-- made before would be overwritten by the arriving data, and the stats cannot be stored
-- before. While `waiting` the data may still come. Answers whether nothing is left to do:
-- recorded, or given up with a warning naming `who`.
function Profile.RecordWhenReady(who, record, waiting)
    if Profile.Get() == nil then
        gConsole:PrintWarning(who .. ": no profile; the result is not recorded")
    elseif Profile.IsReady() then
        record(Profile.Get())
    elseif waiting then
        return false
    else
        gConsole:PrintWarning(who .. ": the profile's data did not arrive; the result is not recorded")
    end
    return true
end
