#pragma once
// The scene tests' independent reference script: its output as text, or as numbers
// (empty when python3 is missing).
#include <sstream>

#include "../RenderTestSupport.h"
#include "render/scene/DebugPathList.h"

namespace scenetest {

inline std::string Reference(const std::string& arguments) {
    return rendertest::ShellOutput("python3 " PROJECT_SOURCE_ROOT "/tests/render/scene/scene_reference.py " + arguments);
}

inline std::vector<float> ReferenceFloats(const std::string& arguments) {
    std::istringstream in(Reference(arguments));
    std::vector<float> values;
    for (float v; in >> v;) values.push_back(v);
    return values;
}

// Posts a debug path list operation as the character controller's entry does: op 0 fills
// the first list (and empties the second) from `xyz`, which the list takes over.
inline void PostPathListOp(DebugPathList& list, uintptr_t op, float* xyz, uint32_t count) {
    ASSERT_TRUE(gVornexRenderer.BeginCommand(TASK_CALL, sizeof(RenderCallFunction) + 3 * sizeof(void*) + 4));
    gVornexRenderer.Ring().WriteValue(RenderCallFunction(&DebugPathList::Execute));
    gVornexRenderer.Ring().WriteValue(op);
    gVornexRenderer.Ring().WriteValue(&list);
    gVornexRenderer.Ring().WriteValue(xyz);
    gVornexRenderer.Ring().WriteValue(count);
}

}  // namespace scenetest
