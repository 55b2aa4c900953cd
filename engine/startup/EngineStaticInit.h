#pragma once
// The engine's rows of the ordered start-up (see core/StaticInit.h). A program that
// links the engine runs RunStaticInit with kCoreStaticInit and kEngineStaticInit.
#include "core/StaticInit.h"

extern const StaticInitTable kEngineStaticInit;
