// The game packet's sections, header and items. Layouts: see GamePacket.h.
#include "net/packet/GamePacket.h"

#include <cstring>

#include "engine/script/MPMethodCall.h"

namespace {

inline void PutU16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline void PutU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint16_t GetU16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline uint32_t GetU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

constexpr uint32_t kSectionCapacityBits = kMaxPacketBits - kPacketHeaderBits;

}  // namespace

GamePacket::GamePacket() {
    for (PacketSection& s : sections) s.writer = BitWriter(s.bits, kSectionCapacityBits);
}

void GamePacket::Reset() {
    for (PacketSection& s : sections) {
        s.writer.Reset();
        s.itemCount = s.savedBitCursor = s.savedItemCount = 0;
    }
    totalBits = savedTotalBits = kPacketHeaderBits;
    sectionsSinceSave = 0;
    savedSentCount = 0;
    currentSection = kNoSection;
    overflow = 0;
}

void GamePacket::Restore() {
    // Only sections begun since the save changed; their rollback points stay for a
    // second restore to the same save.
    for (uint32_t left = sectionsSinceSave; left; left &= left - 1) {
        PacketSection& s = sections[__builtin_ctz(left)];
        s.writer.Truncate(s.savedBitCursor);
        s.itemCount = s.savedItemCount;
    }
    totalBits = savedTotalBits;
    if (sentEntities) sentEntities->entities.resize(savedSentCount);
    currentSection = kNoSection;
    overflow = 0;
}

void GamePacket::BindSentEntities(PacketHistoryEntry* entry) {
    sentEntities = entry;
    savedSentCount = entry ? static_cast<uint32_t>(entry->entities.size()) : 0;
}

uint32_t GamePacket::Build(uint8_t* out) const {
    uint8_t header[kPacketHeaderBytes] = {};
    header[0] = kGamePacketFrameType;
    PutU32(header + 1, static_cast<uint32_t>(frameTime / kFrameTimeUnitUs));
    PutU32(header + 5, ackedReliable);
    PutU32(header + 9, ackedText);
    PutU16(header + 13, packetId);
    header[15] = packetCount;
    for (uint32_t s = 0; s < kPacketSectionCount; ++s) PutU16(header + 16 + 2 * s, static_cast<uint16_t>(sections[s].itemCount));
    std::memset(out, 0, kMaxPacketBytes + BitWriter::kSlackBytes);
    BitWriter w(out, kMaxPacketBits);
    w.WriteBits(header, kPacketHeaderBits);
    for (const PacketSection& s : sections) w.WriteBits(s.bits, s.writer.BitCount());
    return w.ByteCount();
}

bool GamePacket::Parse(const uint8_t* data, uint32_t length) {
    if (!data || length < kPacketHeaderBytes) return false;
    frameTime = uint64_t(GetU32(data + 1)) * kFrameTimeUnitUs;
    ackedReliable = GetU32(data + 5);
    ackedText = GetU32(data + 9);
    packetId = GetU16(data + 13);
    packetCount = data[15];
    for (uint32_t s = 0; s < kPacketSectionCount; ++s) receivedCounts[s] = GetU16(data + 16 + 2 * s);
    // A datagram longer than any packet is read up to its own length; the counts decide.
    const uint64_t bits = uint64_t(length) * 8;
    reader = BitReader(data, bits > 0xFFFFFFF0u ? 0xFFFFFFF0u : static_cast<uint32_t>(bits), kPacketHeaderBits);
    return true;
}

// ---------------------------------------------------------------------------------
// Items

bool WriteDictionaryItem(GamePacket& packet, uint8_t slot, const uint8_t guid[16]) {
    return packet.WriteValue(slot, 8) && packet.WriteBits(guid, 128);
}

bool ReadDictionaryItem(BitReader& in, uint8_t& slot, uint8_t guid[16]) { return in.Read(slot, 8) && in.ReadBits(guid, 128); }

bool WriteAckItem(GamePacket& packet, uint16_t packetId) { return packet.WriteValue(packetId, 16); }

bool ReadAckItem(BitReader& in, uint16_t& packetId) { return in.Read(packetId, 16); }

bool WriteCallItem(GamePacket& packet, uint32_t sequence, const MPMethodCall& call) {
    const uint32_t count = call.argCount < MPMethodCall::kMaxArgs ? call.argCount : MPMethodCall::kMaxArgs;
    if (!packet.WriteValue(sequence, 32) || !packet.WriteValue(call.methodId, 8) || !packet.WriteValue(count, 4)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t type = call.GetArgType(i);
        if (type == MPARG_INVALID) type = MPARG_NIL;  // never made by the Add operations
        if (!packet.WriteValue(type, 3)) return false;
        const uint8_t* at = call.data + call.args[i].offset;
        bool ok = true;
        switch (type) {
        case MPARG_BOOL: ok = packet.WriteValue(call.GetBoolArg(i) ? 1 : 0, 8); break;
        case MPARG_NUMBER: ok = packet.WriteBits(at, 32); break;
        case MPARG_ENTITY: ok = packet.WriteValue(call.GetEntityArg(i), 16); break;
        case MPARG_VECTOR: ok = packet.WriteBits(at, 128); break;
        case MPARG_STRING: {
            const uint32_t length = call.GetStringArgLength(i);
            ok = packet.WriteValue(length, 8) && (length == 0 || packet.WriteBits(call.GetStringArgData(i), 8 * length));
            break;
        }
        default: break;
        }
        if (!ok) return false;
    }
    return true;
}

bool ReadCallItem(BitReader& in, uint32_t& sequence, MPMethodCall& call) {
    call = MPMethodCall();
    uint32_t count = 0;
    if (!in.Read(sequence, 32) || !in.Read(call.methodId, 8) || !in.Read(count, 4)) return false;
    if (count > MPMethodCall::kMaxArgs) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t type = 0;
        if (!in.Read(type, 3)) return false;
        bool ok = false;
        switch (type) {
        case MPARG_NIL: ok = call.AddNilArg(); break;
        case MPARG_BOOL: {
            uint8_t v = 0;
            ok = in.Read(v, 8) && call.AddBoolArg(v != 0);
            break;
        }
        case MPARG_NUMBER: {
            float v = 0.0f;
            ok = in.ReadBits(&v, 32) && call.AddNumberArg(v);
            break;
        }
        case MPARG_ENTITY: {
            uint16_t v = 0;
            ok = in.Read(v, 16) && call.AddEntityArg(v >= kNoMultiplayerId ? kNoMultiplayerId : v);
            break;
        }
        case MPARG_VECTOR: {
            float v[4] = {};
            ok = in.ReadBits(v, 128) && call.AddVectorArg(Vector(v[0], v[1], v[2], v[3]));
            break;
        }
        case MPARG_STRING: {
            uint32_t length = 0;
            char text[256];
            ok = in.Read(length, 8) && (length == 0 || in.ReadBits(text, 8 * length)) && call.AddStringArg(text, length);
            break;
        }
        default: return false;  // types 6 and 7 do not exist
        }
        if (!ok) return false;
    }
    return true;
}

uint32_t TextItemBits(const char16_t* units, uint32_t count) {
    bool wide = false;
    for (uint32_t i = 0; i < count; ++i) wide = wide || units[i] >= 255;
    return 32 + 8 + 8 + count * (wide ? 16 : 8);
}

bool WriteTextItem(GamePacket& packet, uint32_t sequence, const char16_t* units, uint32_t count) {
    if (count > 255) count = 255;
    bool wide = false;
    for (uint32_t i = 0; i < count; ++i) wide = wide || units[i] >= 255;
    if (!packet.WriteValue(sequence, 32) || !packet.WriteValue(count, 8) || !packet.WriteValue(wide ? 1 : 0, 8)) return false;
    for (uint32_t i = 0; i < count; ++i)
        if (!packet.WriteValue(wide ? units[i] : (units[i] & 0xFF), wide ? 16 : 8)) return false;
    return true;
}

bool ReadTextItem(BitReader& in, uint32_t& sequence, char16_t* units, uint32_t& count) {
    uint32_t n = 0, wide = 0;
    if (!in.Read(sequence, 32) || !in.Read(n, 8) || !in.Read(wide, 8)) return false;
    const uint32_t width = wide == 1 ? 16 : 8;
    count = 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t unit = 0;
        if (!in.Read(unit, width)) return false;
        if (count < kMaxChatUnits) units[count++] = static_cast<char16_t>(unit);
    }
    units[count] = 0;
    return true;
}
