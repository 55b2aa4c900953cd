#pragma once
// The scene tests' independent reference script: its output as text, or as numbers
// (empty when python3 is missing).
#include <sstream>

#include "../RenderTestSupport.h"

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

}  // namespace scenetest
