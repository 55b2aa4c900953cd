// The entity record's wire form, section 1 of a game packet (least significant bit
// first):
//   12 id | 4 flags (low bits)
//   create:     8 dictionary slot | 8 creation counter | 12 parent id | 1 owned by receiver
//   properties: 8 byte mask M | 1 W | per set bit i of M, from bit 0: 8 dirty byte i
//               (+ 8 snap byte i when W) | 1 L | T in 7 bits (11 when L) | T field bits
// M has bit i set when byte i of the dirty mask is non-zero; W is set when some byte of
// the snap mask under M is non-zero; L when T is above 127. The fields are those of the
// dirty mask in property order, each at its own width. The reader clears both masks
// first, so bytes outside M read as 0.
#include <cstring>

#include "core/BitStream.h"
#include "core/Log.h"
#include "net/packet/GamePacket.h"
#include "net/replication/EntityReplicationState.h"

namespace {

constexpr uint32_t kShortLengthLimit = 127;
// T's 11 bits, read in whole 8-byte words, stay within the field buffer.
static_assert((2047 + 63) / 64 * 8 <= kMPFieldBufferBytes);

uint8_t ByteOf(uint64_t mask, uint32_t i) { return static_cast<uint8_t>(mask >> (8 * i)); }

// Bit i set when byte i of the mask is non-zero.
uint32_t ByteMask(uint64_t mask) {
    uint64_t t = mask;
    t |= t >> 4;
    t |= t >> 2;
    t |= t >> 1;  // bit 0 of each byte: any bit of that byte
    t &= 0x0101010101010101ull;
    return static_cast<uint32_t>((t * 0x0102040810204080ull) >> 56);
}

bool SnapBytesUnder(uint64_t snap, uint32_t byteMask) { return (ByteMask(snap) & byteMask) != 0; }

// Bits of the present fields of an appended buffer.
uint32_t PresentFieldBits(const EntityRecord& r) {
    const uint32_t n = r.fields.fieldCount;
    const uint64_t all = n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
    if (n && (r.dirtyMask & all) == all) return r.fields.totalBits;  // every field: the running total
    uint32_t t = 0;
    for (uint32_t i = 0; i < r.fields.fieldCount; ++i)
        if (r.dirtyMask & (uint64_t(1) << i)) t += r.fields.bitLengths[i];
    return t;
}

}  // namespace

uint32_t EntityRecordWireBits(const EntityRecord& r) {
    uint32_t bits = 16;
    if (r.flags & ENTITYRECORD_CREATE) bits += 29;
    if (r.flags & ENTITYRECORD_PROPERTIES) {
        const uint32_t m = ByteMask(r.dirtyMask);
        const bool w = SnapBytesUnder(r.snapMask, m);
        bits += 9 + static_cast<uint32_t>(__builtin_popcount(m)) * (w ? 16 : 8);
        const uint32_t t = PresentFieldBits(r);
        bits += 1 + (t > kShortLengthLimit ? 11 : 7) + t;
    }
    return bits;
}

namespace {

// Gathers a record's values LSB first into a 64-bit word and hands the packet whole
// words: the same bits as one write per value, with a fraction of the calls.
class WordWriter {
public:
    explicit WordWriter(GamePacket& p) : packet(p) {}
    // value holds no bits above n; n <= 64.
    bool Put(uint64_t value, uint32_t n) {
        if (n == 0) return true;
        word |= value << used;
        if (used + n < 64) {
            used += n;
            return true;
        }
        if (!packet.WriteValue(word, 64)) return false;
        const uint32_t taken = 64 - used;
        word = taken < 64 ? value >> taken : 0;
        used = n - taken;
        return true;
    }
    bool Finish() { return used == 0 || packet.WriteValue(word, used); }

private:
    GamePacket& packet;
    uint64_t word = 0;
    uint32_t used = 0;
};

uint64_t Low(uint64_t v, uint32_t n) { return n >= 64 ? v : v & ((uint64_t(1) << n) - 1); }

}  // namespace

bool WriteEntityRecordWire(GamePacket& p, const EntityRecord& r) {
    WordWriter w(p);
    if (!w.Put(uint64_t(r.multiplayerId & 0xFFF) | uint64_t(r.flags & ENTITYRECORD_WIRE_FLAGS) << 12, 16)) return false;
    if (r.flags & ENTITYRECORD_CREATE) {
        const uint64_t create = uint64_t(r.dictionarySlot) | uint64_t(r.creationCounter) << 8 | uint64_t(r.parentId & 0xFFF) << 16 |
                                uint64_t(r.ownedByReceiver ? 1 : 0) << 28;
        if (!w.Put(create, 29)) return false;
    }
    if (!(r.flags & ENTITYRECORD_PROPERTIES)) return w.Finish();
    const uint32_t t = PresentFieldBits(r);
    if (t > kMaxMPFieldBits) {
        gLog.Error(LogCategory::Multiplayer, "EntityReplication - entity %u: %u field bits do not fit a record", unsigned(r.multiplayerId),
                   unsigned(t));
        return false;
    }
    const uint32_t m = ByteMask(r.dirtyMask);
    const bool snap = SnapBytesUnder(r.snapMask, m);
    if (!w.Put(m | (snap ? 1u << 8 : 0u), 9)) return false;
    for (uint32_t left = m; left; left &= left - 1) {
        const uint32_t i = static_cast<uint32_t>(__builtin_ctz(left));
        const uint64_t bytes = snap ? uint64_t(ByteOf(r.dirtyMask, i)) | uint64_t(ByteOf(r.snapMask, i)) << 8 : ByteOf(r.dirtyMask, i);
        if (!w.Put(bytes, snap ? 16 : 8)) return false;
    }
    const bool longForm = t > kShortLengthLimit;
    if (!w.Put((longForm ? 1u : 0u) | t << 1, longForm ? 12 : 8)) return false;
    uint32_t offset = 0;
    for (uint32_t i = 0; i < r.fields.fieldCount; ++i) {
        const uint32_t bits = r.fields.bitLengths[i];
        if ((r.dirtyMask & (uint64_t(1) << i)) && bits) {
            // A field is at most 64 bits, stored LSB first from a byte boundary.
            uint64_t v = 0;
            if (offset + 8 <= kMPFieldBufferBytes)
                std::memcpy(&v, r.fields.data + offset, 8);  // one load; the bits past the field are masked off
            else
                for (uint32_t k = 0; offset + k < kMPFieldBufferBytes && k < 8; ++k) v |= uint64_t(r.fields.data[offset + k]) << (8 * k);
            if (!w.Put(Low(v, bits), bits)) return false;
        }
        offset += (bits + 7) / 8;
    }
    return w.Finish();
}

bool ReadEntityRecordWire(BitReader& in, EntityRecord& r) {
    // Everything but the field bytes, which the read overwrites up to T (readers of the
    // buffer are bounded by its totals).
    r.multiplayerId = kNoMultiplayerId;
    r.version = 0;
    r.flags = 0;
    r.localTime = 0;
    r.dictionarySlot = r.creationCounter = r.ownedByReceiver = 0;
    r.templateGuid = SimpleGUID();  // inline, not a call
    r.parentId = kNoMultiplayerId;
    r.ownerId = kNoOwnerId;
    r.dirtyMask = r.snapMask = 0;
    r.ownerRelevantMask = ~uint64_t(0);
    r.fields.Clear();
    uint64_t v = 0;
    if (!in.ReadValue(v, 16)) return false;
    r.multiplayerId = static_cast<uint16_t>(v & 0xFFF);
    r.flags = static_cast<uint8_t>(v >> 12);
    if (r.flags & ENTITYRECORD_CREATE) {
        if (!in.ReadValue(v, 29)) return false;
        r.dictionarySlot = static_cast<uint8_t>(v);
        r.creationCounter = static_cast<uint8_t>(v >> 8);
        r.parentId = static_cast<uint16_t>((v >> 16) & 0xFFF);
        r.ownedByReceiver = static_cast<uint8_t>(v >> 28);
    }
    if (!(r.flags & ENTITYRECORD_PROPERTIES)) return true;
    if (!in.ReadValue(v, 9)) return false;
    const uint32_t m = static_cast<uint32_t>(v & 0xFF);
    const bool snap = (v >> 8) != 0;
    for (uint32_t left = m; left; left &= left - 1) {
        const uint32_t i = static_cast<uint32_t>(__builtin_ctz(left));
        if (!in.ReadValue(v, snap ? 16 : 8)) return false;
        r.dirtyMask |= (v & 0xFF) << (8 * i);
        if (snap) r.snapMask |= (v >> 8) << (8 * i);
    }
    // L and the low 7 bits of T; T's high 4 bits follow when L is set.
    if (!in.ReadValue(v, 8)) return false;
    uint32_t t = static_cast<uint32_t>(v >> 1);
    if (v & 1) {
        if (!in.ReadValue(v, 4)) return false;
        t |= static_cast<uint32_t>(v) << 7;
    }
    // The field bits in whole words (T <= 2047: at most 256 bytes, the buffer's size).
    if (t > in.Remaining()) return in.ReadBits(r.fields.data, t);  // fails, reading nothing
    uint8_t* d = r.fields.data;
    for (uint32_t left = t; left; d += 8) {
        const uint32_t n = left < 64 ? left : 64;
        in.ReadValue(v, n);
        std::memcpy(d, &v, 8);
        left -= n;
    }
    r.fields.totalBits = t;
    r.fields.bytesUsed = (t + 7) / 8;
    return true;
}
