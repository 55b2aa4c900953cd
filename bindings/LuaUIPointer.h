#pragma once
// LuaUIPointer: a script's weak reference to a UI element. It empties itself when the
// element's main-side teardown runs (the element clears every safe pointer aimed at it),
// so Get answers nil from then on instead of a freed element.
//
// Values are script-owned (LuaUIPointer.Instance); the collector unlinks the pointer from
// its element and frees it. Main thread only, like the elements.
#include "core/rtti/SafePointer.h"
#include "ui/elements/UIElement.h"

class LuaUIPointer {
public:
    LuaUIPointer() = default;
    explicit LuaUIPointer(UIElement* element) : target(element) {}

    UIElement* Get() const { return target.Get(); }
    void Set(UIElement* element) { target = element; }
    bool IsNull() const { return target.Get() == nullptr; }
    void SetNull() { target = nullptr; }

private:
    SafePointer<UIElement> target;
};

// The scripts' constructors: empty, or aimed at the element (null: empty).
LuaUIPointer LuaUIPointerInstance();
LuaUIPointer LuaUIPointerInstanceOf(UIElement* element);
