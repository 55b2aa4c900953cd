#pragma once
// SteamLeaderboardsManager: the client of the online leaderboards.
//
// Scripts and the gamer profile ask it to find a leaderboard by name, download a range
// of its entries, or upload a score (optionally followed by a download). Requests are
// queued and served one at a time, front first, through three call results (find,
// upload, download); per leaderboard a record keeps the handle, the total entry count,
// a retrieve status and the last downloaded entries.
//
// Failures show only as RETSTATUS_FAILED on a record or a find state of 0; nothing is
// logged. A service call that answers no call handle finishes its request at once as
// failed, so the queue never waits for a result that cannot come.
//
// Threads: main thread only. The call results run inside OnlineContext::RunCallbacks,
// which the main thread pumps.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"
#include "platform/online/Online.h"

// Data requests of a download.
constexpr int32_t RETREQ_GLOBAL = 0;
constexpr int32_t RETREQ_AROUNDUSER = 1;
constexpr int32_t RETREQ_FRIENDS = 2;
// Retrieve status of a record.
constexpr uint32_t RETSTATUS_WAIT = 0;
constexpr uint32_t RETSTATUS_RETRIEVED = 1;
constexpr uint32_t RETSTATUS_FAILED = 2;

class SteamLeaderboardsManager {
public:
    // Find state of a record.
    enum FindState : uint32_t { kFindFailed = 0, kFindQueued = 1, kFound = 2 };
    // Request kinds.
    enum RequestKind : uint32_t { kRequestFind = 0, kRequestDownload = 1, kRequestUpload = 2, kRequestUploadAndDownload = 3 };
    // Details kept per downloaded entry.
    static constexpr int kEntryDetails = 2;
    // Most entries one download keeps (the service sends far fewer).
    static constexpr int32_t kMaxDownloadedEntries = 10000;

    struct Entry {
        online::LeaderboardEntry entry;
        int32_t details[kEntryDetails];
    };
    struct Record {
        NameString name;
        uint32_t findState = kFindQueued;
        online::LeaderboardHandle handle = 0;
        int32_t totalEntries = 0;
        uint32_t status = RETSTATUS_FAILED;
        Dynarray<Entry> entries;
    };
    // One allocation per request; the fields its kind does not use stay zero.
    struct Request {
        uint32_t kind = kRequestFind;
        NameString name;
        uint8_t create = 0;
        int32_t score = 0;
        Dynarray<int32_t> details;
        uint8_t forceUpdate = 0;
        int32_t dataRequest = 0;
        int32_t count = 0;
        int32_t offset = 0;
    };

    // services: the signed-in user's online services; null answers every call with
    // failure (no online services in this process).
    explicit SteamLeaderboardsManager(online::OnlineContext* services);
    virtual ~SteamLeaderboardsManager();
    SteamLeaderboardsManager(const SteamLeaderboardsManager&) = delete;
    SteamLeaderboardsManager& operator=(const SteamLeaderboardsManager&) = delete;

    bool PrepareLeaderboard(const char* name, bool create);
    bool IsLeaderboardPrepared(const char* name) const;
    // The download and the five readers of its answer are virtual, so a test double can
    // serve rows.
    virtual bool RetrieveLeaderboard(const char* name, int32_t dataRequest, int32_t count, int32_t offset);
    bool UpdateLeaderboard(const char* name, int32_t score, bool forceUpdate);
    bool UpdateLeaderboard(const char* name, int32_t score, int32_t detail, bool forceUpdate);
    bool UpdateAndRetrieveLeaderboard(const char* name, int32_t score, int32_t dataRequest, int32_t count,
                                      int32_t offset, bool forceUpdate);
    bool UpdateAndRetrieveLeaderboard(const char* name, int32_t score, int32_t detail, int32_t dataRequest,
                                      int32_t count, int32_t offset, bool forceUpdate);
    // Keeps the request being served and the uploads; see the .cpp.
    void ResetNonUpdateRequests();

    virtual int32_t GetLeaderboardTotalEntriesNumber(const char* name) const;
    virtual uint32_t GetLeaderboardRetrieveStatus(const char* name) const;
    virtual int32_t GetLeaderboardRetrievedEntriesNumber(const char* name, int32_t* userRow) const;
    // persona: valid until the calling thread's eighth next text answer of the services.
    virtual bool GetLeaderboardRetrievedEntry(const char* name, int32_t row, uint32_t* globalRank, const char** persona,
                                      int32_t* score, bool* isFriend) const;
    bool GetLeaderboardRetrievedEntryDetail(const char* name, int32_t row, int32_t* detail) const;
    // details: the entry's first details; detailCount at most kEntryDetails.
    virtual bool GetLeaderboardRetrievedEntryDetails(const char* name, int32_t row, int32_t* detailCount,
                                             const int32_t** details) const;
    bool HasPendingUploads() const { return pendingUploads > 0; }

    // Log-out: cancels the outstanding calls, drops every record and every request.
    void Clear();

    // Inspection for tests and the profile module.
    uint32_t RequestCount() const { return requests.Count(); }
    const Request* RequestAt(uint32_t i) const { return i < requests.Count() ? requests[i] : nullptr; }
    const Record* FindRecord(const char* name) const;
    bool InFlight() const { return inFlight != 0; }

    // The three call-result handlers (public for the fuzz target, which feeds records).
    void OnFindResult(const online::LeaderboardFindResult& result, bool ioFailure);
    void OnUploadResult(const online::LeaderboardScoreUploaded& result, bool ioFailure);
    void OnDownloadResult(const online::LeaderboardScoresDownloaded& result, bool ioFailure);

private:
    // One outstanding call bound to a handler of the manager.
    template <class T>
    class CallResult : public online::CallbackBase {
    public:
        using Handler = void (SteamLeaderboardsManager::*)(const T&, bool);
        CallResult(SteamLeaderboardsManager* owner, Handler handler) : owner(owner), handler(handler) {}
        void Run(const void* data, bool ioFailure, online::CallHandle) override {
            call = 0;
            (owner->*handler)(*static_cast<const T*>(data), ioFailure);
        }
        void Bind(online::OnlineContext* services, online::CallHandle c);
        void Cancel(online::OnlineContext* services);
        online::CallHandle call = 0;

    private:
        SteamLeaderboardsManager* owner;
        Handler handler;
    };

    Record* Find(const char* name) const;
    Record* AddRecord(const char* name);
    void RemoveRecord(const Record* record);
    void Queue(Request* request);
    Request* NewUpload(const char* name, int32_t score, const int32_t* details, int32_t detailCount, bool forceUpdate);
    // Starts front requests until one waits for a call result or the queue is empty.
    void StartNext();
    bool IssueFind(Record* record);
    bool IssueDownload(Record* record, const Request& request);
    bool IssueUpload(Record* record, const Request& request);
    void FinishFront();
    bool NameMatches(online::LeaderboardHandle handle, const Record& record) const;
    const Entry* RetrievedEntry(const char* name, int32_t row) const;

    online::OnlineContext* services;
    Dynarray<Record*> records;
    Dynarray<Request*> requests;
    uint8_t inFlight = 0;
    uint32_t pendingUploads = 0;
    CallResult<online::LeaderboardFindResult> findCall;
    CallResult<online::LeaderboardScoreUploaded> uploadCall;
    CallResult<online::LeaderboardScoresDownloaded> downloadCall;
};
