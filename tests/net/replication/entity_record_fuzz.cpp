// test-timeout: 900
// Entity records from a hostile host into a client's proxies. Each input is a short
// sequence (up to 16) of items {u8 kind, u16 length, the bytes}: kind 0 sends the bytes
// as the section-1 bits of a game packet claiming (first byte) that many records; kind 1
// hands the bytes (padded) to the client's main thread as one callback-20 record. The
// client ticks between items. The proxies are of one registered template, created with
// their standard properties.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../NetMatch.h"
#include "../../engine/entity/SceneFiles.h"
#include "ProgramStaticInit.h"
#include "engine/entity/EntityManager.h"

namespace {

const char kGuid[] = "00000000-0000-0000-0000-0000000000A1";

std::vector<uint8_t> Packet(uint16_t id, uint8_t records, const uint8_t* bits, uint32_t bytes) {
    static GamePacket p;
    p.Reset();
    p.packetId = id;
    p.frameTime = 2000000 + uint64_t(id) * 66666;
    p.packetCount = 1;
    SimpleGUID g;
    g.FromString(kGuid);
    p.BeginSection(SECTION_DICTIONARY);
    WriteDictionaryItem(p, 1, g.bytes);
    p.EndSection();
    for (uint32_t i = 0; i < records; ++i) {
        p.BeginSection(SECTION_ENTITIES);
        if (i == 0) p.WriteBits(bits, std::min<uint32_t>(bytes, 1000) * 8);
        p.EndSection();
    }
    std::vector<uint8_t> out(kMaxPacketBytes + BitWriter::kSlackBytes);
    out.resize(p.Build(out.data()));
    return out;
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    // A create of id 7 from slot 1 with its three standard fields, then a change.
    static GamePacket p;
    p.Reset();
    p.BeginSection(SECTION_ENTITIES);
    EntityRecord r;
    r.multiplayerId = 7;
    r.flags = ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES;
    r.dictionarySlot = 1;
    r.creationCounter = 1;
    r.fields.Append(0x12345678, 32);
    r.fields.Append(0x4000, 16);
    r.fields.Append(100, 10);
    r.dirtyMask = 7;
    WriteEntityRecordWire(p, r);
    p.EndSection();
    std::vector<uint8_t> bytes((p.SectionBits(SECTION_ENTITIES) + 7) / 8);
    std::vector<uint8_t> full(kMaxPacketBytes + BitWriter::kSlackBytes);
    full.resize(p.Build(full.data()));
    // The section starts at byte 26 when it is the only one.
    std::memcpy(bytes.data(), full.data() + kPacketHeaderBytes, bytes.size());
    std::vector<uint8_t> in = {0, uint8_t(bytes.size() + 1), 0, 1};
    in.insert(in.end(), bytes.begin(), bytes.end());
    add(in.data(), in.size());
    std::vector<uint8_t> direct = {1, uint8_t(sizeof(EntityRecord)), uint8_t(sizeof(EntityRecord) >> 8)};
    r.flags = ENTITYRECORD_PROPERTIES;
    const uint8_t* rb = reinterpret_cast<const uint8_t*>(&r);
    direct.insert(direct.end(), rb, rb + sizeof r);
    add(direct.data(), direct.size());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    gEntityManager->Init(BoundingBox4(Vector(-100, -25, -100, 1), Vector(100, 200, 100, 1)), 10.0f);
    static EntityTemplate plain;
    plain.SetName("plain");
    static scenefiles::RegisteredTemplate registered(&plain, kGuid, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nettest::Match m(0, 0x10000, 0x100000);
    if (!m.Connect()) std::abort();
    size_t at = 0;
    uint16_t packetId = 500;
    for (int item = 0; item < 16 && at + 3 <= size; ++item) {
        const uint8_t kind = data[at] & 1;
        uint16_t length;
        std::memcpy(&length, data + at + 1, 2);
        at += 3;
        const uint32_t n = uint32_t(std::min<size_t>(length, size - at));
        if (kind == 0 && n > 0) {
            const std::vector<uint8_t> packet = Packet(packetId++, data[at], data + at + 1, n - 1);
            m.client.driver->Inject(NETFRAME_GAME_PACKET, packet.data(), uint32_t(packet.size()));
        } else if (kind == 1) {
            EntityRecord r;
            std::memcpy(&r, data + at, std::min<size_t>(n, sizeof r));
            CommandRingBuffer& q = m.client.engine->CallbackQueue();
            if (q.BeginWrite(NETCB_ENTITY_RECORD, sizeof r)) {
                q.Write(&r, sizeof r);
                q.EndWrite();
            }
        }
        at += n;
        m.Step(30000);
        for (uint32_t id = 0; id < kNoMultiplayerId; id += 97)
            if (Entity* e = gEntityManager->GetEntityByMID(id)) e->MPPropTick(uint64_t(2000000));
    }
    gEntityManager->NewScene();
    return 0;
}
