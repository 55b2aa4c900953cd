// A stand-in for the touch helper library: its four entries over contacts the test
// chooses, and a record of the calls.
// shared-library: PCTouchHelper
#include <algorithm>

#include "touch_fake.h"

namespace {
FakeTouchRecord gRecord;
wnd::TouchContact gContacts[256];
uint32_t gContactCount = 0;
}  // namespace

extern "C" {
void FakeTouch_SetContacts(const wnd::TouchContact* contacts, uint32_t count) {
    gContactCount = std::min<uint32_t>(count, 256);
    std::copy(contacts, contacts + gContactCount, gContacts);
}
FakeTouchRecord* FakeTouch_Log() { return &gRecord; }

int32_t PCTouchHelperIsTouchScreenPresent() { return 1; }
int32_t PCTouchHelperRegisterTouchWindow(uint32_t window, uint32_t flags) {
    return ++gRecord.registerCalls, gRecord.registeredWindow = window, gRecord.registerFlags = flags, 1;
}
int32_t PCTouchHelperCloseTouchInputHandle(uint32_t handle) { return ++gRecord.closeCalls, gRecord.closedHandle = handle, 1; }
int32_t PCTouchHelperGetTouchInputInfo(uint32_t, uint32_t count, wnd::TouchContact* records, int32_t recordSize) {
    gRecord.infoCount = count;
    if (recordSize != sizeof(wnd::TouchContact)) return 0;
    std::copy(gContacts, gContacts + std::min(count, gContactCount), records);
    return 1;
}
}
