#pragma once
// What the stand-in touch helper records and hands out, reached by the test through the
// library's own control entries.
#include <cstdint>

#include "platform/window/Window.h"

struct FakeTouchRecord {
    uint32_t registerCalls, registeredWindow, registerFlags;
    uint32_t infoCount;  // of the last info call
    uint32_t closeCalls, closedHandle;
};

extern "C" {
// The contacts every info call hands out (at most 256 are kept).
using FakeTouchSetContacts = void (*)(const wnd::TouchContact* contacts, uint32_t count);
using FakeTouchLog = FakeTouchRecord* (*)();
}
