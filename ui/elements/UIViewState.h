#pragma once
// The render side's per-frame UI state: the three action clocks and the UI view
// transform, written by the screen family's op 25 before a screen's tree is drawn, and
// the window-alignment rule the tree draw evaluates with it.
//
// Render thread only.
#include <cstdint>

#include "core/math/Vector.h"
#include "ui/elements/UIConstants.h"
#include "ui/elements/UIOpStream.h"

class UIElement;

struct UIViewState {
    // Action clocks in counter ticks.
    int64_t smoothGameTime = 0;
    int64_t smoothGameplayTime = 0;
    int64_t hardwareTime = 0;
    // The UI size a x b and the screen factors c, d (fractions of the window covered by
    // the UI's reference area).
    float a = 1, b = 1, c = 1, d = 1;
    Vector size{1, 1, 0, 0};           // (a, b)
    Vector inverseSize{1, 1, 0, 0};    // (1/a, 1/b)
    Vector uiPerScreen{1, 1, 0, 0};    // (a/c, b/d)
    Vector screenPerUI{1, 1, 0, 0};    // (c/a, d/b)
    Vector pointer;                    // the pointer in UI units
    float hx = 0, hy = 0;              // edge offsets (UI units)
    float alignA = 0, alignB = 0;      // window-alignment offsets A = 1 - c, B = d - 1
    UIElement* drawnScreen = nullptr;  // the screen being drawn
};

extern UIViewState gUIViewState;

// Op 25: the clocks, the view transform and the pointer (given in window units).
void SetUIViewTransform(int64_t smoothGameTime, int64_t smoothGameplayTime, float a, float b, float c, float d,
                        const Vector& pointer);

// Aligned-axis bits passed down the tree: the outermost aligned ancestor shifts an axis.
enum : uint32_t { UIALIGNED_X = 1, UIALIGNED_Y = 2 };
// Adds the alignment's offsets for the axes whose bit is clear, setting their bits;
// true when an offset was applied.
bool ApplyWindowAlignment(uint32_t alignment, Vector& offset, uint32_t& alignedBits);

// The clock an action runs on (flags & 0x30: 0x10 smooth gameplay, 0x20 hardware, else
// smooth game time).
inline int64_t UIActionClock(uint32_t actionFlags) {
    switch (actionFlags & kUIActionClockMask) {
    case UIACTIONFLAG_GAMEPLAYTIME:
        return gUIViewState.smoothGameplayTime;
    case UIACTIONFLAG_SYSTEMTIME:
        return gUIViewState.hardwareTime;
    default:
        return gUIViewState.smoothGameTime;
    }
}

// The screen family of the op stream: op 25 (the view transform) and op 26 (the screen's
// tree draw, run through the function the drawing code installs; nothing without one).
void HandleUIScreenOp(uint32_t op, UIElement* screen, UIOpReader& payload);
inline constexpr UIOpFamily kUIScreenFamily = MakeUIOpFamily<&HandleUIScreenOp>();
using UIRenderTreeFunction = void (*)(UIElement* screen, uint8_t flag);
void SetUIRenderTreeFunction(UIRenderTreeFunction function);

// Main thread: posts op 25 for the screen.
bool PostUIViewTransform(UIElement* screen, int64_t smoothGameTime, int64_t smoothGameplayTime, float a, float b,
                         float c, float d, const Vector& pointer);
