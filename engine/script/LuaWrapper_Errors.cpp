// Script host: what its reports have said. Each report text is logged the first time; the
// same text again is only counted, so a fault met every frame logs its lines once, and
// ReportRepeatedErrors says at the end how often each came. The failure record keeps the
// first failed run and the first missing function since it began, for the program's own
// report when its start-up calls fail.
//
// Main thread only, like the host. Reports are made outside every protected run (after
// the run returned), so the table may allocate.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <lua.hpp>
#include <map>
#include <string>

#include "core/Log.h"
#include "engine/script/LuaWrapper.h"

namespace {

// Past this many distinct texts a new one is logged every time rather than counted.
constexpr size_t kMaxCountedTexts = 256;
std::map<std::string, uint32_t> gReported;

}  // namespace

bool LuaWrapper::LogOnce(const char* text) {
    const auto at = gReported.find(text);
    if (at != gReported.end()) {
        ++at->second;
        return false;
    }
    if (gReported.size() < kMaxCountedTexts) gReported.emplace(text, 1);
    return true;
}

void LuaWrapper::ReportRepeatedErrors() {
    const std::map<std::string, uint32_t> reported = std::move(gReported);
    gReported.clear();
    for (const auto& [text, count] : reported) {
        if (count < 2) continue;
        // A failed run's key is its three report lines: the message (or the first line
        // when there is none) stands for them.
        const size_t last = text.rfind('\n');
        const std::string shown = last == std::string::npos || last + 1 == text.size()
                                      ? text.substr(0, text.find('\n'))
                                      : text.substr(last + 1);
        gLog.Error(LogCategory::Script, "%s (reported %u times)", shown.c_str(), count);
    }
}

void LuaWrapper::ReportMissingFunction(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    ++failureRecord.missingFunctions;
    if (!failureRecord.firstMissing[0]) std::snprintf(failureRecord.firstMissing, sizeof failureRecord.firstMissing, "%s", line);
    if (LogOnce(line)) gLog.Error(LogCategory::Script, "%s", line);
}

void LuaWrapper::NoteFailure(const char* chunk, const char* message) {
    ++failureRecord.errors;
    if (failureRecord.firstError[0]) return;
    const size_t n = std::strlen(chunk);
    if (!message[0])
        std::snprintf(failureRecord.firstError, sizeof failureRecord.firstError, "%s: error", chunk);
    else if (n && std::strncmp(message, chunk, n) == 0)
        std::snprintf(failureRecord.firstError, sizeof failureRecord.firstError, "%s", message);
    else
        std::snprintf(failureRecord.firstError, sizeof failureRecord.firstError, "%s: %s", chunk, message);
}

void LuaWrapper::BeginFailureRecord() { failureRecord = FailureRecord{}; }

void LuaWrapper::MergeEarlierFailureRecord(const FailureRecord& earlier) {
    FailureRecord& r = failureRecord;
    r.errors += earlier.errors;
    r.missingFunctions += earlier.missingFunctions;
    r.foundFunctions += earlier.foundFunctions;
    if (earlier.firstError[0]) std::memcpy(r.firstError, earlier.firstError, sizeof r.firstError);
    if (earlier.firstMissing[0]) std::memcpy(r.firstMissing, earlier.firstMissing, sizeof r.firstMissing);
    if (earlier.firstFile[0]) std::memcpy(r.firstFile, earlier.firstFile, sizeof r.firstFile);
}
