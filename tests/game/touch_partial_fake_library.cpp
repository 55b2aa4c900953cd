// A broken touch helper library: the handle entry without the contact entry.
// shared-library: PartialTouchHelper
#include <cstdint>

extern "C" int32_t PCTouchHelperCloseTouchInputHandle(uint32_t) { return 1; }
