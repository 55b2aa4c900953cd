#pragma once
// The counter text that the game's scripts set on UI text elements: a signed number in
// decimal, optionally with every '1' after the first character written as '0'.
//
// Main thread only.
#include <cstdint>

class UITextBase;

// Room for the longest counter text and its terminating 0.
constexpr uint32_t kCounterTextCapacity = 65;

// Writes the counter text of value into out.
void FormatCounterText(int32_t value, bool onesAsZeros, char (&out)[kCounterTextCapacity]);
// Sets the counter text on the element (single-byte text); a null element is ignored.
void ZKRHackedSetCounterText(UITextBase* text, int32_t value, bool onesAsZeros);
