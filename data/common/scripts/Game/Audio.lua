-- The game's sounds: the sound entries of the "sounds" set, added at start-up, and the
-- wind ambient of the mission's scene.

Audio = {}

-- Entry name: files, looped, two-dimensional, volume (the files the sample data makes).
local SOUND_ENTRIES = {
    {"Wind", {"Wind.ogg"}, true, true, 0.6},
    {"Shot", {"Shot.ogg"}, false, false, 1.0},
    {"Explosion", {"Explosion.ogg"}, false, false, 1.0},
    {"Won", {"Won.ogg"}, false, true, 1.0},
    {"Lost", {"Lost.ogg"}, false, true, 1.0},
}
local WIND_AMBIENT = "Wind"

function Audio.Init()
    for _, e in ipairs(SOUND_ENTRIES) do
        local params = SoundEntryParams:Instance()
        for _, file in ipairs(e[2]) do
            params:AddSound(file)
        end
        params.Loop = e[3]
        params.Attenuate = e[4]
        params.Volume = e[5]
        gSoundEntriesContainer:AddSoundEntry(e[1], params)
    end
    -- The container starts with plays turned off: nothing would be heard without this.
    gSoundEntriesContainer:EnableSoundsPlay(true)
end

-- Plays an entry at an entity (nil: not positioned).
function Audio.Play(entry, entity)
    gSoundEntriesContainer:PlaySoundEntry(entry, entity, 0, 0)
end

-- Starts the ambient entity's entry where the ambient stands.
function Audio.StartAmbient()
    local ambient = gEntityManager:FindEntityByName(WIND_AMBIENT)
    if ambient == nil then
        gConsole:PrintWarning("Audio: no ambient " .. WIND_AMBIENT)
        return
    end
    local entry = ambient.GetSoundEntryName and ambient:GetSoundEntryName() or WIND_AMBIENT
    Audio.Play(entry, ambient)
end
