#include "net/PeerSyncRecord.h"

PeerSyncRecord::PeerSyncRecord(uint32_t id, int64_t counterNow)
    : peerId(id), entities(new PeerEntityEntry[kMultiplayerIdCount]()) {
    timeSync.Restart(counterNow);
}

bool PeerSyncRecord::HasPendingEntities() const {
    for (uint64_t w : pendingEntities)
        if (w) return true;
    return false;
}

size_t PeerSyncTable::UpperBound(uint32_t peerId) const {
    size_t lo = 0, hi = records.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (records[mid]->peerId <= peerId)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

PeerSyncRecord* PeerSyncTable::Find(uint32_t peerId) const {
    size_t lo = 0, hi = records.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (records[mid]->peerId < peerId)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < records.size() && records[lo]->peerId == peerId ? records[lo].get() : nullptr;
}

PeerSyncRecord* PeerSyncTable::Insert(uint32_t peerId, int64_t counterNow) {
    const size_t at = UpperBound(peerId);
    records.insert(records.begin() + static_cast<long>(at), std::make_unique<PeerSyncRecord>(peerId, counterNow));
    return records[at].get();
}

void PeerSyncTable::Remove(uint32_t peerId) {
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i]->peerId == peerId) {
            records.erase(records.begin() + static_cast<long>(i));
            return;
        }
}
