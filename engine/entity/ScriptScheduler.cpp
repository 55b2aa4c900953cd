#include "engine/entity/ScriptScheduler.h"

#include <algorithm>
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/Time.h"
#include "core/fs/FsUtil.h"
#include "engine/script/LuaWrapper.h"

namespace {

constexpr int64_t kMaxTicks = INT64_MAX;

// now + delay seconds (delay is never negative), the product computed in single
// precision and truncated; both the product and the sum saturate.
int64_t DueTime(int64_t now, float delay) {
    const int64_t offset = Time::FromFloatSeconds(delay).ticks;
    return now > kMaxTicks - offset ? kMaxTicks : now + offset;
}


}  // namespace

ScriptSchedulerRecord* ScriptScheduler::Schedule(Entity* entity, int64_t now, float delay, uint32_t flags) {
    if (!(delay > 0.0f)) delay = 0.0f;  // negative or NaN
    flags &= ~SCRIPTSCHEDULER_ENTITY;
    if (entity) {
        flags |= SCRIPTSCHEDULER_ENTITY;
    } else if (flags & SCRIPTSCHEDULER_REPEAT) {
        flags &= ~SCRIPTSCHEDULER_REPEAT;
        gLog.Error(LogCategory::Script, "Only entity based scripts are allowed to repeat - ignoring");
    }
    ScriptSchedulerRecord record;
    record.due = DueTime(now, delay);
    record.entity = entity;
    record.flags = flags;
    record.interval = delay;
    const uint32_t at = Insert(record);
    return at == kDynarrayNone ? nullptr : &records[at];
}

void ScriptScheduler::ScheduleString(Entity* entity, const char* text, int64_t now, float delay, uint32_t flags) {
    ScriptSchedulerRecord* record = Schedule(entity, now, delay, flags | SCRIPTSCHEDULER_TEXT);
    if (record && text && *text) record->text = fs::CopyText(text);
}

ScriptSchedulerRecord* ScriptScheduler::ScheduleCallbackId(Entity* entity, uint32_t callbackId, int64_t now, float delay,
                                                           uint32_t flags) {
    ScriptSchedulerRecord* record = Schedule(entity, now, delay, flags & ~SCRIPTSCHEDULER_TEXT);
    if (record) record->callbackId = callbackId;
    return record;
}

uint32_t ScriptScheduler::Insert(ScriptSchedulerRecord& record) {
    // After every record due at the same time or earlier.
    const auto at = std::upper_bound(records.begin(), records.end(), record.due,
                                     [](int64_t due, const ScriptSchedulerRecord& r) { return due < r.due; });
    const uint32_t lo = static_cast<uint32_t>(at - records.begin());
    if (records.Insert(record, lo)) return lo;
    ReleaseBuffer(&record.text);
    return kDynarrayNone;
}

template <class Fn>
void ScriptScheduler::ForEachLive(Fn fn) {
    for (ScriptSchedulerRecord& r : records) fn(r, false);
    if (!running) return;
    for (uint32_t i = passNext; i < pass.Count(); ++i) fn(pass[i], i == passNext);
}

void ScriptScheduler::CancelScriptCalls(Entity* entity, const char* text) {
    ForEachLive([&](ScriptSchedulerRecord& r, bool runningNow) {
        if (!(r.flags & SCRIPTSCHEDULER_TEXT) || r.entity.Get() != entity) return;
        if (text && (!r.text || std::strcmp(r.text, text) != 0)) return;
        r.flags &= ~SCRIPTSCHEDULER_REPEAT;
        // The running record's text is in use; it is freed when the run ends.
        if (!runningNow) ReleaseBuffer(&r.text);
    });
}

void ScriptScheduler::CancelCallback(Entity* entity, uint32_t callbackId) {
    ForEachLive([&](ScriptSchedulerRecord& r, bool) {
        if ((r.flags & SCRIPTSCHEDULER_TEXT) || r.entity.Get() != entity || r.callbackId != callbackId) return;
        r.flags = (r.flags | SCRIPTSCHEDULER_TEXT) & ~SCRIPTSCHEDULER_REPEAT;  // a text call without text
    });
}

bool ScriptScheduler::FindCallback(Entity* entity, uint32_t callbackId, int64_t* due) const {
    for (const ScriptSchedulerRecord& r : records) {
        if ((r.flags & SCRIPTSCHEDULER_TEXT) || r.entity.Get() != entity || r.callbackId != callbackId) continue;
        if (due) *due = r.due;
        return true;
    }
    return false;
}

void ScriptScheduler::Run(int64_t now) {
    if (running) return;
    uint32_t dueCount = 0;
    while (dueCount < records.Count() && records[dueCount].due <= now) ++dueCount;
    if (dueCount == 0) return;
    pass.Clear();
    if (!pass.Reserve(dueCount)) return;
    for (uint32_t i = 0; i < dueCount; ++i) pass.Add(records[i]);
    const uint32_t rest = records.Count() - dueCount;
    for (uint32_t i = 0; i < rest; ++i) records[i] = records[dueCount + i];
    records.Resize(rest);

    running = true;
    for (passNext = 0; passNext < pass.Count(); ++passNext) {
        ScriptSchedulerRecord& r = pass[passNext];
        RunRecord(r);
        if ((r.flags & SCRIPTSCHEDULER_REPEAT) && r.entity.Get()) {
            r.due = DueTime(now, r.interval);
            Insert(r);  // the text moves with the record
            r.text = nullptr;
        } else {
            ReleaseBuffer(&r.text);
        }
    }
    running = false;
    pass.Clear();
}

void ScriptScheduler::RunRecord(ScriptSchedulerRecord& r) {
    if (r.flags & SCRIPTSCHEDULER_TEXT) {
        if (!r.text) return;
        if (!(r.flags & SCRIPTSCHEDULER_ENTITY)) {
            gLua.ExecuteString(r.text);
            return;
        }
        Entity* entity = r.entity.Get();
        if (!entity) return;
        gLua.PushString(r.text);
        gLua.CallObjectMethod(entity, "ScriptSchedulerHelper", 1, 0);
        return;
    }
    if (Entity* entity = r.entity.Get()) entity->RequestDelete(r.callbackId);
}

void ScriptScheduler::Clear() {
    for (ScriptSchedulerRecord& r : records) ReleaseBuffer(&r.text);
    records.Release();
    if (!running) return;
    for (uint32_t i = passNext; i < pass.Count(); ++i) {
        ScriptSchedulerRecord& r = pass[i];
        r.flags = (r.flags | SCRIPTSCHEDULER_TEXT) & ~SCRIPTSCHEDULER_REPEAT;
        if (i != passNext) ReleaseBuffer(&r.text);
    }
}
