#pragma once
// The start-up table of the engine core: its rows name classes and globals of every
// core folder (class registrations, the file system and its readers, configuration,
// profiler, pools, random seeds), so it sits in the top core library. Tables of the
// libraries above are merged with it by RunStaticInit(tables, count).
//
// Threads: main thread only (see core/StaticInit.h).
#include "core/StaticInit.h"

// The rows of the engine core and the configuration.
extern const StaticInitTable kCoreStaticInit;

// Runs the core table alone. False (and nothing done) when start-up already ran and
// was not shut down since.
bool RunStaticInit();

// The platform string ("PC"); null before start-up.
const char* GetPlatformName();
