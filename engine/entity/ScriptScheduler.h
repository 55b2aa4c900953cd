#pragma once
// ScriptScheduler: delayed script calls on one clock - a Lua text to run, a text handed to
// an entity's script method "ScriptSchedulerHelper", or a numbered callback on an entity
// (Entity::RequestDelete). The engine object holds the engine-time scheduler, the Game
// the game-time and gameplay-time ones; each is run with its own clock's time.
//
// Records are kept sorted by due time (equal times in scheduling order). Run takes every
// due record out before running any, so calls may schedule and cancel freely while a
// pass runs: new calls wait for the next Run, and cancellations also reach the records of
// the pass in flight that have not finished yet (a repeating call can stop itself).
//
// Times are signed 64-bit counter ticks (os::kCounterFrequency per second), like the
// clocks they are compared with. Main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/rtti/SafePointer.h"
#include "engine/entity/Entity.h"

enum : uint32_t {
    SCRIPTSCHEDULER_REPEAT = 1u << 0,
    SCRIPTSCHEDULER_TEXT = 1u << 1,
    SCRIPTSCHEDULER_SELECTION = 3u << 2,  // the caller's scheduler choice, kept as given
    SCRIPTSCHEDULER_ENTITY = 1u << 31,
};

struct ScriptSchedulerRecord {
    int64_t due = 0;
    SafePointer<Entity> entity;  // null for a plain text call; empties when the entity dies
    char* text = nullptr;        // owned, engine allocator
    uint32_t callbackId = 0;
    uint32_t flags = 0;
    float interval = 0.0f;  // seconds, reused by every repetition
};

class ScriptScheduler {
public:
    ScriptScheduler() = default;
    ~ScriptScheduler() { Clear(); }
    ScriptScheduler(const ScriptScheduler&) = delete;
    ScriptScheduler& operator=(const ScriptScheduler&) = delete;

    // A record due at now + delay (a negative or NaN delay counts as 0; the sum
    // saturates). Only an entity's calls may repeat: without one the repeat bit is dropped
    // with an error line. The record is valid until the next change of the scheduler.
    ScriptSchedulerRecord* Schedule(Entity* entity, int64_t now, float delay, uint32_t flags);
    // A text call; an empty or null text is kept as none (dropped when due).
    void ScheduleString(Entity* entity, const char* text, int64_t now, float delay, uint32_t flags);
    ScriptSchedulerRecord* ScheduleCallbackId(Entity* entity, uint32_t callbackId, int64_t now, float delay,
                                              uint32_t flags);

    // Every text call of the entity (all of them for a null text, else those with an equal
    // text) loses its text and its repeat bit, and does nothing when due.
    void CancelScriptCalls(Entity* entity, const char* text);
    // Every callback of the entity with that id does nothing when due.
    void CancelCallback(Entity* entity, uint32_t callbackId);
    // The due time of the entity's first pending callback with that id.
    bool FindCallback(Entity* entity, uint32_t callbackId, int64_t* due) const;

    // Runs every call due at now (see the header comment).
    void Run(int64_t now);
    // Frees every text and the records, the pass in flight included.
    void Clear();

    uint32_t Count() const { return records.Count(); }
    const ScriptSchedulerRecord& Record(uint32_t index) const { return records[index]; }

private:
    // At its sorted place, after every record due no later; the index, or kDynarrayNone
    // (and the text freed) when memory ran out.
    uint32_t Insert(ScriptSchedulerRecord& record);
    void RunRecord(ScriptSchedulerRecord& record);
    // Applies fn to the pending records and to those of the pass in flight; the second
    // argument tells whether the record is the one running now.
    template <class Fn>
    void ForEachLive(Fn fn);

    DynarraySafe<ScriptSchedulerRecord> records;
    DynarraySafe<ScriptSchedulerRecord> pass;  // taken out by Run, reused
    uint32_t passNext = 0;   // index in pass of the record running now
    bool running = false;
};
