#pragma once
// The sound library's implementation of the engine's SoundServices and its scene entries
// (sound/SoundServices.cpp). The start-up row installs them and pushes their removal;
// tests may remove and reinstall them.
void InstallSoundServices();
void ClearSoundServices();
// The start-up row's work: install, then push the removal onto the exit stack.
void InstallSoundServicesRow();

class SceneSoundServices;
// The sound library's implementation of the scene's SceneSoundServices.
SceneSoundServices& SoundLibrarySceneServices();
