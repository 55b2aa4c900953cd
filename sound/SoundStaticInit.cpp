// Start-up table of the sound library.
#include "sound/SoundStaticInit.h"

#include "sound/SoundEngine.h"
#include "sound/SoundEntries.h"
#include "sound/SoundServices.h"

namespace {

void LoadDefaultSoundParams() { SoundParamWrapper::DEFAULT.LoadDefaults(); }

using K = StaticInitKind;
const StaticInitRow kSoundRows[] = {
    {4, K::GlobalObject, "gSoundEngine", &StaticInitCreateGlobal<SoundEngine, gSoundEngine>, 0, 0},
    {4, K::Constants, "SoundParamWrapper::DEFAULT", &LoadDefaultSoundParams, 0, 0},
    {4, K::Constants, "SoundServices and SceneSoundServices (sound)", &InstallSoundServicesRow, 0, 0},
    // With the fonts and the shaders.
    {6, K::ClassRegistration, "SoundEntryParams", &StaticInitRegister<SoundEntryParams>, 0, 0},
    {6, K::ClassRegistration, "SoundEntry", &StaticInitRegister<SoundEntry>, 0, 0},
    {6, K::ClassRegistration, "SoundEntriesContainer", &StaticInitRegister<SoundEntriesContainer>, 0, 0},
    {6, K::GlobalObject, "gSoundEntriesContainer",
     &StaticInitCreateGlobal<SoundEntriesContainer, gSoundEntriesContainer>, 0, 0},
};

}  // namespace

const StaticInitTable kSoundStaticInit = {kSoundRows, sizeof(kSoundRows) / sizeof(kSoundRows[0])};
