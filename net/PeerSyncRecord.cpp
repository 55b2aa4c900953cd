#include "net/PeerSyncRecord.h"

#include <algorithm>

PeerSyncRecord::PeerSyncRecord(uint32_t id, int64_t counterNow)
    : peerId(id), entities(new PeerEntityEntry[kMultiplayerIdCount]()) {
    timeSync.Restart(counterNow);
}

uint64_t UnwrapPacketId(uint64_t newest, uint16_t id) {
    constexpr int64_t kPeriod = 65535;  // ids skip 0
    if (id == 0) id = 1;
    if (newest == 0) return id;
    int64_t step = (int64_t(id) - 1 - int64_t((newest - 1) % kPeriod)) % kPeriod;
    if (step < 0) step += kPeriod;
    if (step > kPeriod / 2) step -= kPeriod;
    const int64_t count = int64_t(newest) + step;
    return count < 1 ? 1 : uint64_t(count);
}

bool PeerSyncRecord::HasPendingEntities() const {
    for (uint64_t w : pendingEntities)
        if (w) return true;
    return false;
}

size_t PeerSyncTable::UpperBound(uint32_t peerId) const {
    const auto after = [](uint32_t id, const std::unique_ptr<PeerSyncRecord>& r) { return id < r->peerId; };
    const auto at = std::upper_bound(records.begin(), records.end(), peerId, after);
    return static_cast<size_t>(at - records.begin());
}

PeerSyncRecord* PeerSyncTable::Find(uint32_t peerId) const {
    const auto before = [](const std::unique_ptr<PeerSyncRecord>& r, uint32_t id) { return r->peerId < id; };
    const auto at = std::lower_bound(records.begin(), records.end(), peerId, before);
    return at != records.end() && (*at)->peerId == peerId ? at->get() : nullptr;
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
