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

// Bits of the present fields of an appended buffer (a field count beyond the length
// table counts as the table, as the writer's field loop takes it).
uint32_t PresentFieldBits(const EntityRecord& r) {
    const uint32_t n = r.fields.fieldCount < kMaxMPProperties ? r.fields.fieldCount : kMaxMPProperties;
    const uint64_t all = n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
    if (n && (r.dirtyMask & all) == all) return r.fields.totalBits;  // every field: the running total
    uint32_t t = 0;
    for (uint32_t i = 0; i < n; ++i)
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

// The largest record: header, creation fields, eight dirty and snap bytes, the long T and
// 2,047 field bits.
constexpr uint32_t kMaxRecordWords = (16 + 29 + 9 + 8 * 16 + 12 + kMaxMPFieldBits + 63) / 64;

// Packs a record's values LSB first into whole words on the stack; the packet then takes
// the record in one piece.
class WordPacker {
public:
    // The first `bits` (< 64) bits already gathered in word.
    WordPacker(uint64_t* words, uint64_t first, uint32_t bits) : out(words), word(first), used(bits) {}
    // value holds no bits above n; 1 <= n <= 64.
    void Put(uint64_t value, uint32_t n) {
        word |= value << used;
        used += n;
        if (used < 64) return;
        *out++ = word;
        used -= 64;
        word = used ? value >> (n - used) : 0;  // the bits that did not fit
    }
    uint64_t* Finish() {
        if (used) *out++ = word;
        return out;
    }

private:
    uint64_t* out;
    uint64_t word;
    uint32_t used;
};

}  // namespace

bool WriteEntityRecordWire(GamePacket& p, const EntityRecord& r) {
    const bool properties = (r.flags & ENTITYRECORD_PROPERTIES) != 0;
    const uint32_t t = properties ? PresentFieldBits(r) : 0;
    if (t > kMaxMPFieldBits) {
        gLog.Error(LogCategory::Multiplayer, "EntityReplication - entity %u: %u field bits do not fit a record", unsigned(r.multiplayerId),
                   unsigned(t));
        return false;
    }
    // Id, flags, the creation fields and M and W: at most 54 bits, gathered directly.
    uint64_t first = uint64_t(r.multiplayerId & 0xFFF) | uint64_t(r.flags & ENTITYRECORD_WIRE_FLAGS) << 12;
    uint32_t bits = 16;
    if (r.flags & ENTITYRECORD_CREATE) {
        first |= (uint64_t(r.dictionarySlot) | uint64_t(r.creationCounter) << 8 | uint64_t(r.parentId & 0xFFF) << 16 |
                  uint64_t(r.ownedByReceiver ? 1 : 0) << 28)
                 << 16;
        bits += 29;
    }
    const uint32_t m = properties ? ByteMask(r.dirtyMask) : 0;
    const bool snap = r.snapMask && SnapBytesUnder(r.snapMask, m);
    if (properties) {
        first |= uint64_t(m | (snap ? 1u << 8 : 0u)) << bits;
        bits += 9;
    }
    uint64_t words[kMaxRecordWords];
    WordPacker w(words, first, bits);
    if (properties) {
        for (uint32_t left = m; left; left &= left - 1) {
            const uint32_t i = static_cast<uint32_t>(__builtin_ctz(left));
            if (snap)
                w.Put(uint64_t(ByteOf(r.dirtyMask, i)) | uint64_t(ByteOf(r.snapMask, i)) << 8, 16);
            else
                w.Put(ByteOf(r.dirtyMask, i), 8);
            bits += snap ? 16 : 8;
        }
        const bool longForm = t > kShortLengthLimit;
        w.Put((longForm ? 1u : 0u) | t << 1, longForm ? 12 : 8);
        bits += (longForm ? 12 : 8) + t;
        // Each field is at most 64 bits, stored LSB first from a byte boundary. A buffer
        // not built by Append could disagree with T: the fields stop at T and zeros fill
        // up to it, so the record always holds the T bits its header names.
        uint32_t left = t;
        uint64_t offset = 0;  // wide: lengths beyond any field must not wrap it
        const uint32_t count = r.fields.fieldCount < kMaxMPProperties ? r.fields.fieldCount : kMaxMPProperties;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t n = r.fields.bitLengths[i];
            const uint64_t at = offset;
            offset += (uint64_t(n) + 7) / 8;
            if (!((r.dirtyMask >> i) & 1)) continue;
            if (n - 1 >= (left < 64 ? left : 64)) {  // no bits, more than a field holds, or past T
                if (n == 0 || n > 64) continue;
                break;
            }
            uint64_t v = 0;
            if (at + 8 <= kMPFieldBufferBytes) {
                std::memcpy(&v, r.fields.data + at, 8);  // one load; the bits past the field are masked off
            } else {
                if (offset > kMPFieldBufferBytes) break;
                for (uint64_t k = at; k < offset; ++k) v |= uint64_t(r.fields.data[k]) << (8 * (k - at));
            }
            w.Put(v & (~uint64_t(0) >> (64 - n)), n);
            left -= n;
        }
        for (; left; left -= left < 64 ? left : 64) w.Put(0, left < 64 ? left : 64);
    }
    w.Finish();
    return p.WriteWords(words, bits);
}

namespace {

// The record's header bits taken from 64-bit windows of the stream: one load for most
// headers instead of one checked read per value.
class HeaderReader {
public:
    explicit HeaderReader(BitReader& r) : in(r), window(r.PeekWord()) {}
    // n <= 32.
    uint32_t Take(uint32_t n) {
        if (used + n > 64) {
            in.Skip(used);  // a failure here fails Finish too
            window = in.PeekWord();
            used = 0;
        }
        const uint32_t v = static_cast<uint32_t>((window >> used) & ((uint64_t(1) << n) - 1));
        used += n;
        return v;
    }
    // False when the bits taken run past the end of the stream.
    bool Finish() { return in.Skip(used); }

private:
    BitReader& in;
    uint64_t window;
    uint32_t used = 0;
};

}  // namespace

bool ReadEntityRecordWire(BitReader& in, EntityRecord& r) {
    // Everything but the field bytes, which the read overwrites up to T (readers of the
    // buffer are bounded by its totals). A record that runs past the end reads false; its
    // members are then of no use.
    r.version = 0;
    r.localTime = 0;
    r.templateGuid = SimpleGUID();  // inline, not a call
    r.ownerId = kNoOwnerId;
    r.ownerRelevantMask = ~uint64_t(0);
    r.fields.Clear();
    HeaderReader h(in);
    const uint32_t head = h.Take(16);
    const uint8_t flags = static_cast<uint8_t>(head >> 12);
    r.multiplayerId = static_cast<uint16_t>(head & 0xFFF);
    r.flags = flags;
    if (flags & ENTITYRECORD_CREATE) {
        const uint32_t v = h.Take(29);
        r.dictionarySlot = static_cast<uint8_t>(v);
        r.creationCounter = static_cast<uint8_t>(v >> 8);
        r.parentId = static_cast<uint16_t>((v >> 16) & 0xFFF);
        r.ownedByReceiver = static_cast<uint8_t>(v >> 28);
    } else {
        r.dictionarySlot = r.creationCounter = r.ownedByReceiver = 0;
        r.parentId = kNoMultiplayerId;
    }
    uint64_t dirty = 0, snapMask = 0;
    uint32_t t = 0;
    if (flags & ENTITYRECORD_PROPERTIES) {
        const uint32_t v = h.Take(9);
        const uint32_t m = v & 0xFF;
        const bool snap = (v >> 8) != 0;
        for (uint32_t left = m; left; left &= left - 1) {
            const uint32_t i = static_cast<uint32_t>(__builtin_ctz(left));
            const uint32_t bytes = h.Take(snap ? 16 : 8);
            dirty |= uint64_t(bytes & 0xFF) << (8 * i);
            snapMask |= uint64_t(bytes >> 8) << (8 * i);
        }
        // L and the low 7 bits of T; T's high 4 bits follow when L is set.
        const uint32_t lt = h.Take(8);
        t = lt >> 1;
        if (lt & 1) t |= h.Take(4) << 7;
    }
    r.dirtyMask = dirty;
    r.snapMask = snapMask;
    if (!h.Finish()) return false;
    if (!(flags & ENTITYRECORD_PROPERTIES)) return true;
    // The field bits in whole words (T <= 2047: at most 256 bytes, the buffer's size).
    if (t > in.Remaining()) return in.ReadBits(r.fields.data, t);  // fails, reading nothing
    uint8_t* d = r.fields.data;
    for (uint32_t left = t; left; d += 8) {
        const uint32_t n = left < 64 ? left : 64;
        uint64_t v = 0;
        in.ReadValue(v, n);
        std::memcpy(d, &v, 8);
        left -= n;
    }
    r.fields.totalBits = t;
    r.fields.bytesUsed = (t + 7) / 8;
    return true;
}
