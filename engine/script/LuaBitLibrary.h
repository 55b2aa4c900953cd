#pragma once
// The script library "bitlib": 32-bit integer bit operations on script numbers.
// Arguments go through the float boundary and are truncated toward zero to 64 bits (NaN
// and infinities read as 0, finite values beyond the range saturate); their low 32
// bits are used. Results are pushed as floats, signed or unsigned as each function
// states. imod by 0 raises the standard argument error; imod(-2^31, -1) is 0.
struct lua_State;

void OpenBitLibrary(lua_State* L);
