#pragma once
// The multiplayer layer's rows of the ordered start-up (see core/StaticInit.h). A
// program that links net runs RunStaticInit with kNetStaticInit after the engine's.
#include "core/StaticInit.h"

extern const StaticInitTable kNetStaticInit;
