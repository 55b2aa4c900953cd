#pragma once
// Message format between online clients and the broker (private to the online layer
// and the broker program).
//
// A frame is a little-endian u32 body length followed by the body; the body starts
// with a u8 message kind and a u32 sequence number (non-zero on requests that expect a
// Reply with the same number), then the kind's fields. Integers are little-endian,
// texts and byte strings are a u32 length and the bytes. Every reader is bounded: a
// field that runs past the body, or a length above its cap, fails the whole message.
#include <cstdint>
#include <string>
#include <vector>

namespace online::wire {

constexpr uint32_t kMaxFrame = 9 * 1024 * 1024;  // a cloud file plus its header fits
constexpr uint32_t kMaxKey = 255;
constexpr uint32_t kMaxValue = 8192;
constexpr uint32_t kMaxName = 260;

enum Kind : uint8_t {
    // client -> broker
    kHello = 1,           // u32 account, text persona, u32 app id, text language
    kCreateLobby,         // u64 call, i32 type, i32 max members
    kJoinLobby,           // u64 call, u64 lobby
    kLeaveLobby,          // u64 lobby
    kSetLobbyData,        // u64 lobby, text key, text value
    kSetMemberData,       // u64 lobby, text key, text value
    kSetJoinable,         // u64 lobby, u8
    kSetOwner,            // u64 lobby, u64 new owner
    kChat,                // u64 lobby, bytes
    kLobbyList,           // u64 call, u32 count, filters (see broker), i32 result count
    kP2PSend,             // u64 target, u8 reliable, i32 channel, bytes
    kGetTicket,           // (sync) -> reply: u32 handle, bytes ticket
    kCancelTicket,        // u32 handle
    kValidateTicket,      // u64 user, u32 forced failure, bytes ticket
    kUserInfo,            // u64 user
    kInvite,              // u64 lobby, u32 account of the invited friend
    kGetStats,            // (sync) -> reply: u32 result, stats, achievements
    kStoreStats,          // (sync) -> reply: u32 result, u32 n, n texts (newly unlocked)
    kFindLeaderboard,     // u64 call, text name
    kDownloadEntries,     // u64 call, u64 board, i32 request, i32 start, i32 end
    kUploadScore,         // u64 call, u64 board, i32 method, i32 score, u32 n, n i32
    kFileWrite,           // (sync) text name, bytes -> reply: u8 ok
    kFileRead,            // (sync) text name -> reply: u8 exists, bytes
    kControl,             // (sync) text command, text argument -> reply: u8 ok, text
    kAuthAnswer,          // network connections only, first frame: bytes HMAC of the challenge
    // broker -> client
    kReply = 64,          // sequence of the request, then the request's reply fields
    kEvent,               // i32 callback id, u64 call, bytes record
    kLobbyState,          // lobby snapshot (see broker)
    kLobbyGone,           // u64 lobby: drop the cached snapshot
    kChatEntry,           // u64 lobby, u32 chat id, u64 user, bytes
    kLobbyListResult,     // u64 call, u32 n, n snapshots
    kP2PPacket,           // u64 from, u8 reliable, i32 channel, bytes
    kUserKnown,           // u64 user, text persona, u8 friend, u8 announce (raise PersonaStateChange)
    kLeaderboardInfo,     // u64 call, u64 board, text name, i32 entry count, u8 found
    kEntries,             // u64 call, u64 board, i32 entry count, u32 n, n entries
    kScoreUploaded,       // u64 call, u8 success, u64 board, i32 score, u8 changed, i32 new, i32 prev, i32 count
    kChallenge,           // network connections only, first frame: bytes challenge
    kAuthRefused,         // network connections only, after an answer of the right form that is wrong; then the close
};

class Writer {
public:
    explicit Writer(Kind kind, uint32_t sequence = 0);
    void Reserve(size_t bodySize) { bytes.reserve(4 + bodySize); }
    Writer& U8(uint8_t v);
    Writer& U32(uint32_t v);
    Writer& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
    Writer& U64(uint64_t v);
    Writer& F32(float v);
    Writer& Text(const std::string& v) { return Bytes(v.data(), v.size()); }
    Writer& Bytes(const void* data, size_t size);
    // The finished frame (length prefix filled in).
    const std::vector<uint8_t>& Frame();
    // The same, moved out: the writer is left empty.
    std::vector<uint8_t> TakeFrame() {
        Frame();
        return std::move(bytes);
    }

private:
    std::vector<uint8_t> bytes;
};

// Reads one body. Any failed read sets Failed() and answers zero/empty from then on.
class Reader {
public:
    // header false: the body of a Reply as handed to the caller (kind and sequence stripped).
    Reader(const uint8_t* body, size_t size, bool header = true);
    Kind MessageKind() const { return kind; }
    uint32_t Sequence() const { return sequence; }
    uint8_t U8();
    uint32_t U32();
    int32_t I32() { return static_cast<int32_t>(U32()); }
    uint64_t U64();
    float F32();
    std::string Text(uint32_t maxSize);
    // Points into the body; valid while the body lives.
    const uint8_t* Bytes(uint32_t maxSize, uint32_t* size);
    // A count of items of at least minItemSize bytes each: fails when they cannot fit.
    uint32_t Count(uint32_t maxCount, uint32_t minItemSize);
    bool Failed() const { return failed; }
    bool AtEnd() const { return position == size; }

private:
    bool Need(size_t n);
    const uint8_t* body;
    size_t size;
    size_t position = 0;
    bool failed = false;
    Kind kind = Kind(0);
    uint32_t sequence = 0;
};

// Splits a byte stream into frame bodies. A frame that announces an empty body or one
// larger than kMaxFrame breaks the stream: Broken() turns true, Push() answers false,
// and the caller must close the connection.
class FrameSplitter {
public:
    bool Push(const uint8_t* data, size_t size);
    // Moves the next complete body into out; false when none is complete.
    bool Next(std::vector<uint8_t>& out);
    bool Broken() const { return broken; }
    // Bytes held: complete bodies not yet taken and the start of the next frame.
    size_t Buffered() const { return pending.size() - consumed; }
    // The body length the next frame announces; 0 while its length is not in yet.
    uint32_t HeadLength() const;

private:
    bool HeadValid();
    std::vector<uint8_t> pending;
    size_t consumed = 0;
    bool broken = false;
};

}  // namespace online::wire
