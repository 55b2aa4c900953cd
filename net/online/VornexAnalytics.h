#pragma once
// VornexAnalytics: analytics records built by scripts and posted to the game's web
// server. A script opens a record for a table (Begin), adds named integer, float and
// string values and ends it (End); an ended record is written as a JSON body, signed with
// an MD5 digest and posted by a job on the ServerRequestThread, so the main thread never
// waits on the network. Records live in a pool of reusable slots.
//
// The server's host is the environment variable ANALYTICS_HOST ("host" for port 8080, or
// "host:port"), read by Init; without it every post fails at once, so a machine that
// configured nothing sends nothing. A post succeeds only when the transfer completes with
// an HTTP status of 2xx; nothing is retried.
//
// Threads: the main thread owns the pool and its slots. The worker owns a request from
// its send job until it sets the request's done flag; the main thread reads only that
// flag. Requests are never freed on the main thread: every old request goes to the
// worker as a delete job, queued behind its send job. Without a running worker the jobs
// run at once on the calling thread.
#include <atomic>
#include <cstdint>
#include <string>

#include "core/Dynarray.h"

struct VornexAnalyticsValue {
    enum Kind : uint32_t { kInt = 0, kFloat = 1, kString = 2 };
    static constexpr uint32_t kNameSize = 128;

    char name[kNameSize] = {};  // at most 127 bytes, cut on a UTF-8 character boundary
    uint32_t kind = kInt;
    int32_t intValue = 0;
    float floatValue = 0.0f;
    char* stringValue = nullptr;  // owned; null for a null or empty string
};

class VornexAnalyticsRequestInternals {
public:
    static constexpr uint32_t kTableNameSize = 128;

    explicit VornexAnalyticsRequestInternals(const char* table = nullptr);
    virtual ~VornexAnalyticsRequestInternals();
    VornexAnalyticsRequestInternals(const VornexAnalyticsRequestInternals&) = delete;
    VornexAnalyticsRequestInternals& operator=(const VornexAnalyticsRequestInternals&) = delete;

    void Add(const char* name, uint32_t kind, int32_t i, float f, const char* text);
    // Frees every value and empties the table name.
    void Clear();
    // The JSON body (one line and a newline).
    std::string Body() const;

    std::atomic<uint8_t> done{0};  // written by the worker when the post has finished
    uint8_t result = 0;            // 0 the post succeeded, 1 it failed
    char tableName[kTableNameSize] = {};
    Dynarray<VornexAnalyticsValue*> values;
};

class VornexAnalytics {
public:
    static constexpr uint32_t kInitialSlots = 8;
    static constexpr uint32_t kNoRequest = 0xFFFFFFFFu;
    enum JobArgument : uintptr_t { kJobSend = 0, kJobDelete = 1 };

    struct Slot {
        VornexAnalyticsRequestInternals* request = nullptr;
        uint32_t sending = 0;
        uint8_t open = 0;
    };

    // Main thread.
    void Init();
    void Begin(const char* tableName);
    void AddInt(const char* name, int32_t value);
    void AddFloat(const char* name, float value);
    void AddString(const char* name, const char* value);
    void End(bool send);
    // Hands every request to the worker, waits until the worker has run every job (a post
    // in flight included) and releases the HTTP client.
    void Shutdown();

    // Inspection.
    bool IsInitialised() const { return initialised; }
    uint32_t SlotCount() const { return pool.Count(); }
    const Slot* SlotAt(uint32_t i) const { return i < pool.Count() ? pool[i] : nullptr; }
    uint32_t CurrentRequest() const { return current; }

    // Worker side: posts body, signed, to the configured host; true on success.
    static bool Post(const std::string& body);
    // The digest that signs a body: MD5 of the body followed by the sealing phrase.
    static std::string Digest(const std::string& body);
    // The server's "host" or "host:port"; empty: no server (Init sets it from the
    // environment, before any job can read it).
    static void SetHost(const char* host);

private:
    void Add(const char* name, uint32_t kind, int32_t i, float f, const char* text);
    static void PostJob(VornexAnalyticsRequestInternals* request, JobArgument argument);

    bool initialised = false;
    uint32_t current = kNoRequest;
    Dynarray<Slot*> pool;
};

extern VornexAnalytics gVornexAnalytics;
