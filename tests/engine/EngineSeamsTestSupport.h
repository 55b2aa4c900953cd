#pragma once
// The engine's seams to the libraries above it, for tests: back to their defaults (no
// sound, multiplayer, UI or scene content), as a test that installs its own stand-ins
// starts and ends.
#include "engine/services/MultiplayerServices.h"
#include "engine/services/SceneContentServices.h"
#include "engine/services/SoundServices.h"
#include "engine/services/UIServices.h"

inline void ResetEngineSeams() {
    SetSoundServices(nullptr);
    SetMultiplayerServices(nullptr);
    SetUIServices(nullptr);
    SetSceneContentServices(nullptr);
}
