// Start-up table of the sound library.
#include "sound/SoundStaticInit.h"

#include "sound/SoundEngine.h"

namespace {

void LoadDefaultSoundParams() { SoundParamWrapper::DEFAULT.LoadDefaults(); }

using K = StaticInitKind;
const StaticInitRow kSoundRows[] = {
    {4, K::GlobalObject, "gSoundEngine", &StaticInitCreateGlobal<SoundEngine, gSoundEngine>, 0, 0},
    {4, K::Constants, "SoundParamWrapper::DEFAULT", &LoadDefaultSoundParams, 0, 0},
};

}  // namespace

const StaticInitTable kSoundStaticInit = {kSoundRows, sizeof(kSoundRows) / sizeof(kSoundRows[0])};
