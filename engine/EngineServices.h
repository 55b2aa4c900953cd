#pragma once
// The services of later subsystems that the engine calls, as one table of hooks named
// after the operations. The libraries that provide them fill their entries at
// start-up; an empty entry gives the least behaviour its comment names. Tests fill
// entries with recording doubles.
//
// Threads: filled before the engine runs; read on the main thread.
#include <cstdint>

class Matrix;
struct Vector;
class UIScreen;
class UIElement;
class UITextBase;

struct EngineServices {
    // User interface.
    // The slot of an element a screen tracks, negative when it does not (empty: -1).
    int32_t (*uiScreenFindTrackedEntitySlot)(UIScreen* screen, UIElement* element) = nullptr;
    // Whether the position lies inside the tracked element (empty: false).
    bool (*uiScreenHitTestTrackedEntity)(UIScreen* screen, int32_t slot, const Vector& position) = nullptr;
    // Sets a text (null clears it) / appends to it (empty: nothing written).
    void (*uiTextSetTextUnicharPtr)(UITextBase* text, const char16_t* characters) = nullptr;
    void (*uiTextAppendText)(UITextBase* text, const char16_t* characters) = nullptr;

    // Sound.
    // Posts the listener (rows side, up, forward, position) to the sound thread
    // (empty: no listener).
    void (*soundEngineSetListener)(const Matrix& listener) = nullptr;
};

extern EngineServices gEngineServices;
