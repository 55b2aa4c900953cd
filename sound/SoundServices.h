#pragma once
// The sound library's entries of gEngineServices (sound/SoundServices.cpp). The start-up
// row fills them and pushes their clearing; tests may empty and refill them.
void FillSoundServices();
void ClearSoundServices();
// The start-up row's work: fill, then push the clearing onto the exit stack.
void FillSoundServicesRow();
