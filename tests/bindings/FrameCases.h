#pragma once
// The natives of the frame's test package (frame_cases.pkg): a value class with every
// result kind, and engine-owned objects that die while the state lives.
#include <cstdint>

#include "engine/script/LuaBaseClass.h"

class FrameValue {
public:
    FrameValue() { ++live; }
    FrameValue(const FrameValue& other) : a(other.a), b(other.b) { ++live; }
    FrameValue& operator=(const FrameValue&) = default;
    ~FrameValue() { --live; }

    static FrameValue Instance() { return FrameValue(); }
    static FrameValue Instance(float x, float y) {
        FrameValue v;
        v.a = x;
        v.b = y;
        return v;
    }
    float Sum() const { return a + b; }
    void Scale(float f) {
        a *= f;
        b *= f;
    }
    float Dot(const FrameValue& other) const { return a * other.a + b * other.b; }
    const FrameValue& Self() const { return *this; }
    void Split(float& x, float& y) const {
        x = a;
        y = b;
    }
    int32_t TakeInt(int32_t value) const { return value; }

    float a = 0;
    float b = 0;
    static const FrameValue ORIGIN;
    static int live;  // objects alive now
};

class FrameObject : public LuaBaseClass {
public:
    FrameObject() { ++live; }
    ~FrameObject() override { --live; }
    const RTTIClass* GetRTTIClass() const override { return nullptr; }
    const char* GetScriptClassName() const override { return "FrameObject"; }

    // -1 for null, else the other's tag.
    int32_t Link(FrameObject* other) {
        ++calls;
        return other ? other->tag : -1;
    }
    int32_t tag = 0;
    int32_t calls = 0;
    static int live;
};

class FrameChild : public FrameObject {
public:
    const char* GetScriptClassName() const override { return "FrameChild"; }
};

// The characters of a UTF-16 text up to its end in the registry; -1 for null.
int32_t CountUnichars(const char16_t* text);
class LuaUnicodeString;
// A script-owned text "abc" and its characters' pointer.
LuaUnicodeString* MakeFrameText();
const char16_t* FrameTextPointer(LuaUnicodeString* text);

// The objects the test sets; a script-owned FrameObject made by the engine allocator.
FrameObject* GetFrameObject();
FrameChild* GetFrameChild();
FrameObject* MakeOwnedFrameObject();
