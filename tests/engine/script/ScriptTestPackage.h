#pragma once
// The C++ side of the test binding package (ScriptTestPackage.pkg).
#include <lua.hpp>
#include <string>
#include <vector>

#include "core/math/Matrix.h"
#include "core/math/Vector.h"
#include "engine/entity/Entity.h"
#include "engine/script/LuaWrapper.h"

class ScriptTestEntity : public Entity {
public:
    const RTTIClass* GetRTTIClass() const override { return nullptr; }
    const char* GetScriptClassName() const override { return "ScriptTestEntity"; }
};

// The last value a probe received, widened to double.
inline double gProbeReceived = 0;
inline Vector gProbeVector{1, 2, 3, 4};
inline Matrix gProbeMatrix;
inline ScriptTestEntity* gProbeEntity = nullptr;
inline std::vector<std::string> gProbeDumpLines;

template <class T>
T Probe(T value) {
    gProbeReceived = static_cast<double>(value);
    return value;
}
inline int ProbeInt(int value) { return Probe(value); }
inline unsigned int ProbeUInt(unsigned int value) { return Probe(value); }
inline short ProbeShort(short value) { return Probe(value); }
inline unsigned char ProbeByte(unsigned char value) { return Probe(value); }
inline float ProbeFloat(float value) { return Probe(value); }
inline double ProbeDouble(double value) { return Probe(value); }
inline double ProbeTenth() { return 0.1; }
inline Vector* ProbeVector() { return &gProbeVector; }
inline Matrix* ProbeMatrix() { return &gProbeMatrix; }
inline ScriptTestEntity* ProbeEntity() { return gProbeEntity; }
// The stack dump, printed to the lines and to the console; gProbeDumpPushed is what it
// left on the stack.
inline int gProbeDumpPushed = 0;
inline void ProbeDumpStack(lua_State* L) {
    gProbeDumpLines.clear();
    const int top = lua_gettop(L);
    gLua.DumpStack([](const char* line, void*) { gProbeDumpLines.emplace_back(line); }, nullptr);
    gLua.DumpLuaStackToConsole();
    gProbeDumpPushed = lua_gettop(L) - top;
}

#define PROBE_CONSTANT 16777217
