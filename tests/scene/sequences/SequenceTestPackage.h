#pragma once
// The C++ side of the test binding package (SequenceTestPackage.pkg): the script
// operations of the sequence system, the action factory and the spawner, bound the way
// the bindings phase will bind them.
#include "scene/sequences/LuaSequenceAction.h"
#include "scene/sequences/SequenceActions.h"
#include "scene/sequences/SequenceSystem.h"
