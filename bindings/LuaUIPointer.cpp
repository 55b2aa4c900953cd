#include "bindings/LuaUIPointer.h"

LuaUIPointer LuaUIPointerInstance() { return LuaUIPointer(); }

LuaUIPointer LuaUIPointerInstanceOf(UIElement* element) { return LuaUIPointer(element); }
