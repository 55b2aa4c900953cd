#include "net/online/VornexAnalytics.h"

#include <cstdlib>
#include <cstring>

#include "core/Log.h"
#include "net/online/ServerRequestThread.h"
#include "platform/online/HttpPost.h"

VornexAnalytics gVornexAnalytics;

namespace {

// Copies text into a field of size bytes: at most size - 1 bytes, cut before a UTF-8
// character that would not fit whole, zero-terminated.
void CopyCut(char* field, uint32_t size, const char* text) {
    size_t n = text ? std::strlen(text) : 0;
    if (n > size - 1) {
        n = size - 1;
        // Back up over continuation bytes to the lead byte of the character that is cut.
        size_t lead = n;
        while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) --lead;
        n = lead;
    }
    if (n) std::memcpy(field, text, n);
    field[n] = '\0';
}

}  // namespace

VornexAnalyticsRequestInternals::VornexAnalyticsRequestInternals(const char* table) {
    CopyCut(tableName, kTableNameSize, table);
}

VornexAnalyticsRequestInternals::~VornexAnalyticsRequestInternals() { Clear(); }

void VornexAnalyticsRequestInternals::Add(const char* name, uint32_t kind, int32_t i, float f, const char* text) {
    auto* v = new VornexAnalyticsValue;
    CopyCut(v->name, VornexAnalyticsValue::kNameSize, name);
    v->kind = kind;
    v->intValue = i;
    v->floatValue = f;
    if (kind == VornexAnalyticsValue::kString && text && *text) {
        const size_t n = std::strlen(text);
        v->stringValue = new char[n + 1];
        std::memcpy(v->stringValue, text, n + 1);
    }
    if (values.Add(v) == kDynarrayNone) {
        delete[] v->stringValue;
        delete v;
    }
}

void VornexAnalyticsRequestInternals::Clear() {
    for (uint32_t i = 0; i < values.Count(); ++i) {
        delete[] values[i]->stringValue;
        delete values[i];
    }
    values.Release();
    tableName[0] = '\0';
}

void VornexAnalytics::Init() {
    if (initialised) return;
    online::HttpGlobalInit();
    for (uint32_t i = 0; i < kInitialSlots; ++i) {
        auto* slot = new Slot;
        slot->request = new VornexAnalyticsRequestInternals();
        pool.Add(slot);
    }
    const char* host = std::getenv("ANALYTICS_HOST");
    SetHost(host ? host : "");
    current = kNoRequest;
    initialised = true;
}

void VornexAnalytics::Begin(const char* tableName) {
    gLog.Print(LogSeverity::Information, LogCategory::Network, "VornexAnalytics: Begin [%s]", tableName ? tableName : "");
    if (!initialised) return;
    uint32_t picked = kNoRequest;
    for (uint32_t i = 0; i < pool.Count(); ++i) {
        const Slot* s = pool[i];
        if (!s->sending || s->request->done.load(std::memory_order_acquire)) {
            picked = i;
            break;
        }
    }
    if (picked == kNoRequest) {
        const uint32_t count = pool.Count();
        gLog.Print(LogSeverity::Information, LogCategory::Network,
                   "VornexAnalytics: no idle requests - resizing request list [%d -> %d]", static_cast<int>(count),
                   static_cast<int>(count + kInitialSlots));
        auto* slot = new Slot;
        slot->request = new VornexAnalyticsRequestInternals();
        picked = pool.Add(slot);
        if (picked == kDynarrayNone) {
            delete slot->request;
            delete slot;
            return;
        }
    }
    Slot* slot = pool[picked];
    slot->open = 1;
    slot->sending = 0;
    PostJob(slot->request, kJobDelete);
    slot->request = new VornexAnalyticsRequestInternals(tableName);
    current = picked;
}

void VornexAnalytics::Add(const char* name, uint32_t kind, int32_t i, float f, const char* text) {
    if (!initialised || current == kNoRequest || !pool[current]->open) return;
    pool[current]->request->Add(name, kind, i, f, text);
}

void VornexAnalytics::AddInt(const char* name, int32_t value) { Add(name, VornexAnalyticsValue::kInt, value, 0.0f, nullptr); }

void VornexAnalytics::AddFloat(const char* name, float value) { Add(name, VornexAnalyticsValue::kFloat, 0, value, nullptr); }

void VornexAnalytics::AddString(const char* name, const char* value) {
    Add(name, VornexAnalyticsValue::kString, 0, 0.0f, value);
}

void VornexAnalytics::End(bool send) {
    gLog.Print(LogSeverity::Information, LogCategory::Network, "VornexAnalytics: End [%d]", send ? 1 : 0);
    if (!initialised || current == kNoRequest) return;
    Slot* slot = pool[current];
    if (slot->open) {
        if (send) {
            slot->sending = 1;
            PostJob(slot->request, kJobSend);
        } else {
            slot->sending = 0;
            PostJob(slot->request, kJobDelete);
            slot->request = new VornexAnalyticsRequestInternals();
        }
        slot->open = 0;
    }
    current = kNoRequest;
}

void VornexAnalytics::Shutdown() {
    if (!initialised) return;
    current = kNoRequest;
    for (uint32_t i = 0; i < pool.Count(); ++i) {
        PostJob(pool[i]->request, kJobDelete);
        delete pool[i];
    }
    pool.Release();
    initialised = false;
    // The HTTP client is released only once no post can be running.
    if (gServerRequestThread) gServerRequestThread->Flush();
    online::HttpGlobalCleanup();
}
