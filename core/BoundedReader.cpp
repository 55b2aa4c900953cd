#include "core/BoundedReader.h"

#include "core/Log.h"

bool BoundedReader::Fail(const char* what) {
    if (!failed) {
        failed = true;
        if (what) gLog.Error(LogCategory::Engine, "Binary property data is corrupt: %s at byte %zu", what, Offset());
    }
    return false;
}
