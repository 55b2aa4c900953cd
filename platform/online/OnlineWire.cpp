#include "platform/online/OnlineWire.h"

#include "platform/online/OnlineTypes.h"

#include <cstring>

namespace online {

uint32_t CallbackRecordSize(int callbackId) {
    switch (callbackId) {
    case ValidateAuthTicketResponse::kCallbackId: return sizeof(ValidateAuthTicketResponse);
    case PersonaStateChange::kCallbackId: return sizeof(PersonaStateChange);
    case GameOverlayActivated::kCallbackId: return sizeof(GameOverlayActivated);
    case GameLobbyJoinRequested::kCallbackId: return sizeof(GameLobbyJoinRequested);
    case AvatarImageLoaded::kCallbackId: return sizeof(AvatarImageLoaded);
    case LobbyEnter::kCallbackId: return sizeof(LobbyEnter);
    case LobbyDataUpdate::kCallbackId: return sizeof(LobbyDataUpdate);
    case LobbyChatUpdate::kCallbackId: return sizeof(LobbyChatUpdate);
    case LobbyChatMsg::kCallbackId: return sizeof(LobbyChatMsg);
    case LobbyMatchList::kCallbackId: return sizeof(LobbyMatchList);
    case LobbyCreated::kCallbackId: return sizeof(LobbyCreated);
    case UserStatsReceived::kCallbackId: return sizeof(UserStatsReceived);
    case UserStatsStored::kCallbackId: return sizeof(UserStatsStored);
    case UserAchievementStored::kCallbackId: return sizeof(UserAchievementStored);
    case LeaderboardFindResult::kCallbackId: return sizeof(LeaderboardFindResult);
    case LeaderboardScoresDownloaded::kCallbackId: return sizeof(LeaderboardScoresDownloaded);
    case LeaderboardScoreUploaded::kCallbackId: return sizeof(LeaderboardScoreUploaded);
    case P2PSessionRequest::kCallbackId: return sizeof(P2PSessionRequest);
    case P2PSessionConnectFail::kCallbackId: return sizeof(P2PSessionConnectFail);
    default: return 0;
    }
}

namespace wire {

Writer::Writer(Kind kind, uint32_t sequence) {
    bytes.reserve(64);
    U32(0);
    U8(kind);
    U32(sequence);
}

Writer& Writer::U8(uint8_t v) {
    bytes.push_back(v);
    return *this;
}

Writer& Writer::U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
}

Writer& Writer::U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
}

Writer& Writer::F32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return U32(bits);
}

Writer& Writer::Bytes(const void* data, size_t size) {
    U32(static_cast<uint32_t>(size));
    const auto* p = static_cast<const uint8_t*>(data);
    if (size) bytes.insert(bytes.end(), p, p + size);
    return *this;
}

const std::vector<uint8_t>& Writer::Frame() {
    const uint32_t body = static_cast<uint32_t>(bytes.size() - 4);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(body >> (8 * i));
    return bytes;
}

Reader::Reader(const uint8_t* body, size_t size, bool header) : body(body), size(size) {
    if (!header) return;
    kind = static_cast<Kind>(U8());
    sequence = U32();
}

bool Reader::Need(size_t n) {
    if (failed || size - position < n) {
        failed = true;
        return false;
    }
    return true;
}

uint8_t Reader::U8() {
    if (!Need(1)) return 0;
    return body[position++];
}

uint32_t Reader::U32() {
    if (!Need(4)) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(body[position + i]) << (8 * i);
    position += 4;
    return v;
}

uint64_t Reader::U64() {
    if (!Need(8)) return 0;
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(body[position + i]) << (8 * i);
    position += 8;
    return v;
}

float Reader::F32() {
    const uint32_t bits = U32();
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}

const uint8_t* Reader::Bytes(uint32_t maxSize, uint32_t* outSize) {
    *outSize = 0;
    const uint32_t n = U32();
    if (failed) return nullptr;
    if (n > maxSize || !Need(n)) {
        failed = true;
        return nullptr;
    }
    const uint8_t* p = body + position;
    position += n;
    *outSize = n;
    return p;
}

std::string Reader::Text(uint32_t maxSize) {
    uint32_t n = 0;
    const uint8_t* p = Bytes(maxSize, &n);
    if (!p) return std::string();
    std::string s(reinterpret_cast<const char*>(p), n);
    // Texts are C strings at the interface: an embedded terminator ends them.
    s.resize(std::strlen(s.c_str()));
    return s;
}

uint32_t Reader::Count(uint32_t maxCount, uint32_t minItemSize) {
    const uint32_t n = U32();
    if (failed) return 0;
    if (n > maxCount || (minItemSize && (size - position) / minItemSize < n)) {
        failed = true;
        return 0;
    }
    return n;
}

bool FrameSplitter::Push(const uint8_t* data, size_t size) {
    if (broken) return false;
    if (consumed > 0 && consumed == pending.size()) {
        pending.clear();
        consumed = 0;
    }
    pending.insert(pending.end(), data, data + size);
    return HeadValid();
}

uint32_t FrameSplitter::HeadLength() const {
    if (pending.size() - consumed < 4) return 0;
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i) n |= static_cast<uint32_t>(pending[consumed + i]) << (8 * i);
    return n;
}

bool FrameSplitter::HeadValid() {
    // A frame announcing an empty or oversized body breaks the stream at once, so that
    // a huge length is refused before its bytes are buffered.
    if (pending.size() - consumed >= 4) {
        const uint32_t n = HeadLength();
        if (n == 0 || n > kMaxFrame) broken = true;
    }
    return !broken;
}

bool FrameSplitter::Next(std::vector<uint8_t>& out) {
    if (broken) return false;
    const size_t avail = pending.size() - consumed;
    if (avail < 4) return false;
    const uint32_t n = HeadLength();
    if (avail - 4 < n) return false;
    out.assign(pending.begin() + consumed + 4, pending.begin() + consumed + 4 + n);
    consumed += 4 + n;
    if (consumed > 65536 && consumed * 2 > pending.size()) {
        pending.erase(pending.begin(), pending.begin() + consumed);
        consumed = 0;
    }
    HeadValid();
    return true;
}

}  // namespace wire
}  // namespace online
