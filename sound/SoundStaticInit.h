#pragma once
// The sound library's rows of the ordered start-up (see core/StaticInit.h): module 4
// builds gSoundEngine and loads the default sound parameter block.
#include "core/StaticInit.h"

extern const StaticInitTable kSoundStaticInit;
