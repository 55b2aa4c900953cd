// Leaderboard requests, served one at a time.
//
// The queue's front request is the one being served. Starting it: a record whose find
// is queued first runs the find; a found record issues the download or the upload; a
// record whose find failed cannot serve anything and the request finishes at once.
// Each call result clears the in-flight flag, updates the front request's record and
// either issues the request's next call (find -> download or upload, upload -> download)
// or finishes the request, which starts the next one.
//
// Records are looked up by name at every step, never kept as pointers in requests, so
// ResetNonUpdateRequests and log-out may drop records under queued requests: a request
// that starts and finds no record re-creates it with a find.
#include "net/online/SteamLeaderboardsManager.h"

#include <algorithm>
#include <cstring>

template <class T>
void SteamLeaderboardsManager::CallResult<T>::Bind(online::OnlineContext* services, online::CallHandle c) {
    Cancel(services);
    call = c;
    services->RegisterCallResult(this, c);
}

template <class T>
void SteamLeaderboardsManager::CallResult<T>::Cancel(online::OnlineContext* services) {
    if (call && services) services->UnregisterCallResult(this, call);
    call = 0;
}

SteamLeaderboardsManager::SteamLeaderboardsManager(online::OnlineContext* services)
    : services(services),
      findCall(this, &SteamLeaderboardsManager::OnFindResult),
      uploadCall(this, &SteamLeaderboardsManager::OnUploadResult),
      downloadCall(this, &SteamLeaderboardsManager::OnDownloadResult) {}

SteamLeaderboardsManager::~SteamLeaderboardsManager() { Clear(); }

void SteamLeaderboardsManager::Clear() {
    // The calls go first: a late result must find nothing to reach.
    findCall.Cancel(services);
    uploadCall.Cancel(services);
    downloadCall.Cancel(services);
    for (Request* r : requests) delete r;
    for (Record* r : records) delete r;
    requests.Release();
    records.Release();
    inFlight = 0;
    pendingUploads = 0;
}

// ---------------------------------------------------------------------------------------
// Records

SteamLeaderboardsManager::Record* SteamLeaderboardsManager::Find(const char* name) const {
    if (!name) return nullptr;
    for (Record* r : records)
        if (std::strcmp(r->name.CStr(), name) == 0) return r;
    return nullptr;
}

const SteamLeaderboardsManager::Record* SteamLeaderboardsManager::FindRecord(const char* name) const { return Find(name); }

SteamLeaderboardsManager::Record* SteamLeaderboardsManager::AddRecord(const char* name) {
    Record* r = new Record;
    r->name = name;
    records.Add(r);
    return r;
}

void SteamLeaderboardsManager::RemoveRecord(const Record* record) {
    for (uint32_t i = 0; i < records.Count(); ++i) {
        if (records[i] != record) continue;
        delete records[i];
        records.Remove(i);
        return;
    }
}

// ---------------------------------------------------------------------------------------
// Public operations

namespace {
// Script numbers: range ends wrap as 32-bit words.
int32_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }
bool ValidDataRequest(int32_t dataRequest) { return dataRequest >= RETREQ_GLOBAL && dataRequest <= RETREQ_FRIENDS; }
}  // namespace

bool SteamLeaderboardsManager::PrepareLeaderboard(const char* name, bool create) {
    if (!name) return false;
    if (const Record* r = Find(name)) return r->findState != kFindFailed;
    AddRecord(name);
    Request* q = new Request;
    q->kind = kRequestFind;
    q->name = name;
    q->create = create ? 1 : 0;
    Queue(q);
    return true;
}

bool SteamLeaderboardsManager::IsLeaderboardPrepared(const char* name) const {
    const Record* r = Find(name);
    return r && r->findState != kFindFailed;
}

bool SteamLeaderboardsManager::RetrieveLeaderboard(const char* name, int32_t dataRequest, int32_t count, int32_t offset) {
    if (!name || !ValidDataRequest(dataRequest)) return false;
    if (count == 0 && dataRequest != RETREQ_FRIENDS) return false;
    Record* r = Find(name);
    if (r && r->findState == kFindFailed) return false;
    if (!r) r = AddRecord(name);
    r->status = RETSTATUS_WAIT;
    Request* q = new Request;
    q->kind = kRequestDownload;
    q->name = name;
    q->dataRequest = dataRequest;
    q->count = count;
    q->offset = offset;
    Queue(q);
    return true;
}

SteamLeaderboardsManager::Request* SteamLeaderboardsManager::NewUpload(const char* name, int32_t score,
                                                                       const int32_t* details, int32_t detailCount,
                                                                       bool forceUpdate) {
    Request* q = new Request;
    q->kind = kRequestUpload;
    q->name = name;
    q->score = score;
    for (int32_t i = 0; i < detailCount; ++i) q->details.Add(details[i]);
    q->forceUpdate = forceUpdate ? 1 : 0;
    return q;
}

bool SteamLeaderboardsManager::UpdateLeaderboard(const char* name, int32_t score, bool forceUpdate) {
    if (!name) return false;
    Record* r = Find(name);
    if (r && r->findState == kFindFailed) return false;
    if (!r) AddRecord(name);
    Queue(NewUpload(name, score, nullptr, 0, forceUpdate));
    return true;
}

bool SteamLeaderboardsManager::UpdateLeaderboard(const char* name, int32_t score, int32_t detail, bool forceUpdate) {
    if (!name) return false;
    Record* r = Find(name);
    if (r && r->findState == kFindFailed) return false;
    if (!r) AddRecord(name);
    Queue(NewUpload(name, score, &detail, 1, forceUpdate));
    return true;
}

bool SteamLeaderboardsManager::UpdateAndRetrieveLeaderboard(const char* name, int32_t score, int32_t dataRequest,
                                                            int32_t count, int32_t offset, bool forceUpdate) {
    if (!name) return false;
    Record* r = Find(name);
    if (r && r->findState == kFindFailed) return false;
    if (count != 0 && !ValidDataRequest(dataRequest)) return false;
    if (!r) r = AddRecord(name);
    if (count == 0) {
        // As designed: the score still goes up (keep best), and the answer is false.
        Queue(NewUpload(name, score, nullptr, 0, false));
        return false;
    }
    r->status = RETSTATUS_WAIT;
    Request* q = NewUpload(name, score, nullptr, 0, forceUpdate);
    q->kind = kRequestUploadAndDownload;
    q->dataRequest = dataRequest;
    q->count = count;
    q->offset = offset;
    Queue(q);
    return true;
}

bool SteamLeaderboardsManager::UpdateAndRetrieveLeaderboard(const char* name, int32_t score, int32_t detail,
                                                            int32_t dataRequest, int32_t count, int32_t offset,
                                                            bool forceUpdate) {
    if (!name) return false;
    Record* r = Find(name);
    if (r && r->findState == kFindFailed) return false;
    if (count != 0 && !ValidDataRequest(dataRequest)) return false;
    if (!r) r = AddRecord(name);
    if (count == 0) {
        Queue(NewUpload(name, score, &detail, 1, false));
        return false;
    }
    r->status = RETSTATUS_WAIT;
    Request* q = NewUpload(name, score, &detail, 1, forceUpdate);
    q->kind = kRequestUploadAndDownload;
    q->dataRequest = dataRequest;
    q->count = count;
    q->offset = offset;
    Queue(q);
    return true;
}

// Keeps the front request (it may be waiting for its result) and every upload; an
// upload-then-download becomes a plain upload; finds and downloads are dropped, and the
// records they were for forget their find (or fail their download).
void SteamLeaderboardsManager::ResetNonUpdateRequests() {
    if (requests.Count() < 2) return;
    uint32_t kept = 1;
    for (uint32_t i = 1; i < requests.Count(); ++i) {
        Request* q = requests[i];
        switch (q->kind) {
            case kRequestUploadAndDownload:
                // Its download will not come: a status left at WAIT would never settle.
                if (Record* r = Find(q->name.Raw()); r && r->status == RETSTATUS_WAIT) r->status = RETSTATUS_FAILED;
                q->kind = kRequestUpload;
                q->dataRequest = q->count = q->offset = 0;
                [[fallthrough]];
            case kRequestUpload:
                requests[kept++] = q;
                continue;
            case kRequestFind:
                if (Record* r = Find(q->name.Raw())) RemoveRecord(r);
                break;
            default:  // download
                if (Record* r = Find(q->name.Raw())) {
                    if (r->findState == kFindQueued)
                        RemoveRecord(r);
                    else
                        r->status = RETSTATUS_FAILED;
                }
                break;
        }
        delete q;
    }
    requests.Resize(kept);
}

// ---------------------------------------------------------------------------------------
// Queries

int32_t SteamLeaderboardsManager::GetLeaderboardTotalEntriesNumber(const char* name) const {
    const Record* r = Find(name);
    return r ? r->totalEntries : 0;
}

uint32_t SteamLeaderboardsManager::GetLeaderboardRetrieveStatus(const char* name) const {
    const Record* r = Find(name);
    return r ? r->status : RETSTATUS_FAILED;
}

int32_t SteamLeaderboardsManager::GetLeaderboardRetrievedEntriesNumber(const char* name, int32_t* userRow) const {
    const Record* r = Find(name);
    if (!r || r->status != RETSTATUS_RETRIEVED) {
        if (userRow) *userRow = 0;
        return 0;
    }
    const int32_t count = static_cast<int32_t>(r->entries.Count());
    if (userRow) {
        const online::OnlineId self = services ? services->User()->GetSteamID() : 0;
        int32_t row = count;
        for (int32_t i = 0; i < count; ++i) {
            if (r->entries[i].entry.user == self) {
                row = i;
                break;
            }
        }
        *userRow = row;
    }
    return count;
}

const SteamLeaderboardsManager::Entry* SteamLeaderboardsManager::RetrievedEntry(const char* name, int32_t row) const {
    const Record* r = Find(name);
    if (!r || r->status != RETSTATUS_RETRIEVED || row < 0 || static_cast<uint32_t>(row) >= r->entries.Count()) return nullptr;
    return &r->entries[static_cast<uint32_t>(row)];
}

bool SteamLeaderboardsManager::GetLeaderboardRetrievedEntry(const char* name, int32_t row, uint32_t* globalRank,
                                                            const char** persona, int32_t* score, bool* isFriend) const {
    const Entry* e = RetrievedEntry(name, row);
    if (!e) return false;
    if (globalRank) *globalRank = static_cast<uint32_t>(e->entry.globalRank);
    if (score) *score = e->entry.score;
    if (persona) *persona = services ? services->Friends()->GetFriendPersonaName(e->entry.user) : "";
    if (isFriend) {
        const int32_t relation = services ? services->Friends()->GetFriendRelationship(e->entry.user) : 0;
        *isFriend = relation == online::kRelationFriend || relation == online::kRelationRequestInitiator;
    }
    return true;
}

bool SteamLeaderboardsManager::GetLeaderboardRetrievedEntryDetail(const char* name, int32_t row, int32_t* detail) const {
    const Entry* e = RetrievedEntry(name, row);
    if (!e || e->entry.detailCount <= 0) return false;
    if (detail) *detail = e->details[0];
    return true;
}

bool SteamLeaderboardsManager::GetLeaderboardRetrievedEntryDetails(const char* name, int32_t row, int32_t* detailCount,
                                                                   const int32_t** details) const {
    if (!detailCount || !details) return false;
    const Entry* e = RetrievedEntry(name, row);
    if (!e) return false;
    // Only the first two details are kept, whatever count the service reported.
    *detailCount = std::clamp(e->entry.detailCount, 0, kEntryDetails);
    *details = e->details;
    return true;
}

// ---------------------------------------------------------------------------------------
// Serving the queue

void SteamLeaderboardsManager::Queue(Request* request) {
    requests.Add(request);
    if (request->kind == kRequestUpload || request->kind == kRequestUploadAndDownload) ++pendingUploads;
    if (!inFlight) StartNext();
}

void SteamLeaderboardsManager::FinishFront() {
    if (!requests.Count()) return;
    Request* q = requests[0];
    if ((q->kind == kRequestUpload || q->kind == kRequestUploadAndDownload) && pendingUploads > 0) --pendingUploads;
    delete q;
    requests.Remove(0);
}

void SteamLeaderboardsManager::StartNext() {
    while (!inFlight && requests.Count()) {
        Request* q = requests[0];
        Record* r = Find(q->name.Raw());
        if (!r) r = AddRecord(q->name.Raw());  // dropped under a kept request: find again
        if (r->findState == kFindQueued) {
            if (IssueFind(r)) return;
            r->findState = kFindFailed;
            r->status = RETSTATUS_FAILED;
            FinishFront();
            continue;
        }
        bool issued = false;
        if (r->findState == kFound) {
            if (q->kind == kRequestDownload)
                issued = IssueDownload(r, *q);
            else if (q->kind == kRequestUpload || q->kind == kRequestUploadAndDownload)
                issued = IssueUpload(r, *q);
        }
        if (issued) return;
        // A find for a settled record, a failed record, or a call without a handle.
        if (q->kind != kRequestFind && q->kind != kRequestUpload) r->status = RETSTATUS_FAILED;
        FinishFront();
    }
}

bool SteamLeaderboardsManager::IssueFind(Record* record) {
    if (!services) return false;
    const online::CallHandle call = services->UserStats()->FindLeaderboard(record->name.CStr());
    if (!call) return false;
    inFlight = 1;
    findCall.Bind(services, call);
    return true;
}

bool SteamLeaderboardsManager::IssueDownload(Record* record, const Request& request) {
    if (!services) return false;
    int32_t start = 0;
    int32_t end = 0;
    switch (request.dataRequest) {
        case RETREQ_GLOBAL:
            start = Wrap(int64_t(request.offset) + 1);
            end = Wrap(int64_t(request.offset) + request.count);
            break;
        case RETREQ_AROUNDUSER: {
            const int32_t half = request.count / 2;
            const int32_t before = Wrap(std::min<int64_t>(half, int64_t(request.count) - half - 1));
            start = Wrap(int64_t(request.offset) - before);
            end = Wrap(int64_t(request.offset) + half);
            break;
        }
        case RETREQ_FRIENDS:
            break;
        default:
            return false;
    }
    record->status = RETSTATUS_WAIT;
    const online::CallHandle call =
        services->UserStats()->DownloadLeaderboardEntries(record->handle, request.dataRequest, start, end);
    if (!call) return false;
    inFlight = 1;
    downloadCall.Bind(services, call);
    return true;
}

bool SteamLeaderboardsManager::IssueUpload(Record* record, const Request& request) {
    if (!services) return false;
    const int32_t method = request.forceUpdate ? online::kUploadForceUpdate : online::kUploadKeepBest;
    const online::CallHandle call = services->UserStats()->UploadLeaderboardScore(
        record->handle, method, request.score, request.details.Count() ? request.details.begin() : nullptr,
        static_cast<int>(request.details.Count()));
    if (!call) return false;
    inFlight = 1;
    uploadCall.Bind(services, call);
    return true;
}

bool SteamLeaderboardsManager::NameMatches(online::LeaderboardHandle handle, const Record& record) const {
    if (!handle || !services) return false;
    const char* name = services->UserStats()->GetLeaderboardName(handle);
    return name && std::strcmp(name, record.name.CStr()) == 0;
}

// ---------------------------------------------------------------------------------------
// Call results

void SteamLeaderboardsManager::OnFindResult(const online::LeaderboardFindResult& result, bool ioFailure) {
    inFlight = 0;
    if (!requests.Count()) return;
    const Request& q = *requests[0];
    Record* r = Find(q.name.Raw());
    // ResetNonUpdateRequests may have dropped the record under the front request, which
    // stays: the answer is still this request's.
    if (!r) r = AddRecord(q.name.Raw());
    if (ioFailure || !result.found || !NameMatches(result.leaderboard, *r)) {
        r->findState = kFindFailed;
        r->status = RETSTATUS_FAILED;
        FinishFront();
    } else {
        r->findState = kFound;
        r->handle = result.leaderboard;
        r->totalEntries = services->UserStats()->GetLeaderboardEntryCount(r->handle);
        bool issued = false;
        if (q.kind == kRequestDownload)
            issued = IssueDownload(r, q);
        else if (q.kind == kRequestUpload || q.kind == kRequestUploadAndDownload)
            issued = IssueUpload(r, q);
        if (!issued) {
            if (q.kind != kRequestFind && q.kind != kRequestUpload) r->status = RETSTATUS_FAILED;
            FinishFront();
        }
    }
    StartNext();
}

void SteamLeaderboardsManager::OnUploadResult(const online::LeaderboardScoreUploaded& result, bool) {
    inFlight = 0;
    if (!requests.Count()) return;
    const Request& q = *requests[0];
    Record* r = Find(q.name.Raw());
    if (q.kind == kRequestUploadAndDownload && r) {
        if (!NameMatches(result.leaderboard, *r) || !IssueDownload(r, q)) {
            r->status = RETSTATUS_FAILED;
            FinishFront();
        }
    } else {
        FinishFront();
    }
    StartNext();
}

void SteamLeaderboardsManager::OnDownloadResult(const online::LeaderboardScoresDownloaded& result, bool ioFailure) {
    inFlight = 0;
    if (!requests.Count()) return;
    Record* r = Find(requests[0]->name.Raw());
    if (r) {
        if (ioFailure || !NameMatches(result.leaderboard, *r)) {
            r->status = RETSTATUS_FAILED;
        } else {
            r->status = RETSTATUS_RETRIEVED;
            r->totalEntries = services->UserStats()->GetLeaderboardEntryCount(r->handle);
            const int32_t count = std::clamp(result.entryCount, 0, kMaxDownloadedEntries);
            r->entries.Clear();
            if (r->entries.Resize(static_cast<uint32_t>(count))) {
                uint32_t read = 0;
                for (; read < static_cast<uint32_t>(count); ++read) {
                    Entry& e = r->entries[read];
                    e = Entry{};
                    if (!services->UserStats()->GetDownloadedLeaderboardEntry(result.entries, static_cast<int>(read),
                                                                             &e.entry, e.details, kEntryDetails))
                        break;  // the service has no more rows than these
                }
                r->entries.Resize(read);
            } else {
                r->entries.Release();
            }
        }
    }
    FinishFront();
    StartNext();
}
