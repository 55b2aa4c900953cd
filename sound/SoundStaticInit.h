#pragma once
// The sound library's rows of the ordered start-up (see core/StaticInit.h): module 4
// builds gSoundEngine, loads the default sound parameter block, registers the sound
// entry classes, builds gSoundEntriesContainer and installs the sound library's seams
// (InstallSoundServices).
#include "core/StaticInit.h"

extern const StaticInitTable kSoundStaticInit;
