#pragma once
// The engine library's rows of the ordered start-up (core/StaticInit.h).
#include "core/StaticInit.h"

extern const StaticInitTable kEngineStaticInit;
