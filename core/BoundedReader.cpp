#include "core/BoundedReader.h"

#include "core/Log.h"

namespace {
thread_local const char* tCurrentSource = nullptr;
}  // namespace

bool BoundedReader::Fail(const char* what) {
    if (!failed) {
        failed = true;
        if (what) {
            if (const char* source = BoundedReaderSource::Current())
                gLog.Error(LogCategory::Engine, "Binary property data is corrupt: %s at byte %zu of %s", what, Offset(),
                           source);
            else
                gLog.Error(LogCategory::Engine, "Binary property data is corrupt: %s at byte %zu", what, Offset());
        }
    }
    return false;
}

BoundedReaderSource::BoundedReaderSource(const char* name) : previous(tCurrentSource) {
    if (name) tCurrentSource = name;
}

BoundedReaderSource::~BoundedReaderSource() { tCurrentSource = previous; }

const char* BoundedReaderSource::Current() { return tCurrentSource; }
