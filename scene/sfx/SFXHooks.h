#pragma once
// The effect layer's SceneEffectServices (the mesh-template refresh of effect entities),
// installed and removed with the scene's start-up row.
#include "scene/sfx/SFXEntity.h"

void InstallSFXServices();
void ClearSFXServices();
