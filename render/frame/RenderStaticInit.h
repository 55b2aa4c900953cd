#pragma once
// The renderer's rows of the ordered start-up (see core/StaticInit.h): module 2 builds
// the presenter and the renderer objects. A program that links the renderer runs
// RunStaticInit with kCoreStaticInit and kRenderStaticInit.
#include "core/StaticInit.h"

extern const StaticInitTable kRenderStaticInit;
