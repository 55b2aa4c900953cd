#pragma once
// The start-up of a test or fuzz program: every start-up table of the libraries the
// program links, merged (RunStaticInit). Every table is a weak reference: null, and
// skipped, in a program that does not link its library (each library with a table
// forces it into the programs that link it). A library that adds a table adds it here.
#include "core/StaticInit.h"

extern const StaticInitTable kCoreStaticInit __attribute__((weak));
extern const StaticInitTable kRenderStaticInit __attribute__((weak));
extern const StaticInitTable kEngineStaticInit __attribute__((weak));
extern const StaticInitTable kSceneStaticInit __attribute__((weak));
extern const StaticInitTable kSoundStaticInit __attribute__((weak));
extern const StaticInitTable kUIStaticInit __attribute__((weak));
extern const StaticInitTable kNetStaticInit __attribute__((weak));
extern const StaticInitTable kGameStaticInit __attribute__((weak));
extern const StaticInitTable kBindingsStaticInit __attribute__((weak));

inline bool RunProgramStaticInit() {
    const StaticInitTable* tables[] = {&kCoreStaticInit,  &kRenderStaticInit, &kEngineStaticInit, &kSceneStaticInit,
                                       &kSoundStaticInit, &kUIStaticInit,     &kNetStaticInit,    &kGameStaticInit, &kBindingsStaticInit};
    return RunStaticInit(tables, sizeof(tables) / sizeof(tables[0]));
}
