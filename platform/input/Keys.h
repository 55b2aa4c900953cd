#pragma once
// Keys: one table giving every keyboard key its scan code (the numbering of the
// engine's key queries, key binds and script constants), its virtual-key code (the
// numbering of key-down window events) and its English name; and the keyboard
// source, a 256-byte key state indexed by scan code (bit 7 down) that tests and the
// program set and the keyboard device reads.
//
// Scan codes and virtual-key codes are the original platform's documented values.
// Keys that report no virtual key of their own carry 0 there; the left and right
// Ctrl, Shift and Alt keys report the shared Ctrl (17), Shift (16) and Alt (18) codes,
// and numeric-pad Enter reports Enter (13), as key-down messages do.
//
// Threads: main thread only.
#include <cstdint>

namespace hid {

struct KeyInfo {
    uint8_t scanCode;
    uint8_t virtualKey;  // 0: none
    const char* name;
};

constexpr uint32_t kKeyStateBytes = 256;
constexpr uint8_t kKeyDownBit = 0x80;

// Virtual-key codes the engine tests by number.
constexpr uint32_t kVirtualKeyReturn = 13;
constexpr uint32_t kVirtualKeyShift = 16;
constexpr uint32_t kVirtualKeyControl = 17;
constexpr uint32_t kVirtualKeyAlt = 18;

// The table, in ascending scan-code order.
const KeyInfo* KeyTable();
uint32_t KeyTableSize();
// Null when no key has that code. A virtual key shared by several keys finds the
// first of them (the left one).
const KeyInfo* FindKeyByScanCode(uint32_t scanCode);
const KeyInfo* FindKeyByVirtualKey(uint32_t virtualKey);
// The key's name, or null for a scan code without a key.
const char* KeyName(uint32_t scanCode);

// Desktop keys, numbered by their USB HID usage (the numbering of SDL scancodes): the
// scan code and virtual-key code of the table's key, 0 for a key it has no row for.
uint32_t ScanCodeFromUsbUsage(uint32_t usage);
uint32_t VirtualKeyFromUsbUsage(uint32_t usage);
// The usages that have a key, ascending.
uint32_t UsbUsageCount();
uint32_t UsbUsageAt(uint32_t index);

// The keyboard source. Codes of 256 or more are ignored. While the desktop back end
// runs (Input.h), the desktop keyboard's keys that are down are read as down too.
void SetKeyDown(uint32_t scanCode, bool down);
// Through the table; false when no key has that virtual key.
bool SetVirtualKeyDown(uint32_t virtualKey, bool down);
void ReleaseAllKeys();
// Copies the 256-byte state (bit 7 set for a key that is down).
void ReadKeyboardSource(uint8_t* state);

}  // namespace hid
