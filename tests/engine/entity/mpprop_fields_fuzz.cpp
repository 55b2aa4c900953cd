// Received property fields into containers of random declarations. Each input: a byte
// count of declarations and that many declaration bytes (kind in the low nibble, flags in
// bits 4 to 6), then records {u64 dirty mask, u64 snap mask, u16 field bits T, the
// (T + 7) / 8 field bytes, u8 create, u16 tick step in ms} until the input ends. Between
// records the container ticks. Nothing may crash, read past the buffer or grow.
#include <cstdint>
#include <cstring>

#include "ProgramStaticInit.h"
#include "core/BitStream.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/MPProperty.h"

namespace {

EntityTemplate* gPlain = nullptr;

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    template <class T>
    bool Take(T& v) {
        if (at + sizeof v > size) return false;
        std::memcpy(&v, data + at, sizeof v);
        at += sizeof v;
        return true;
    }
};

void Declare(Entity* e, uint8_t d) {
    const uint32_t kind = d & 15, flags = (d >> 4) & 7;
    switch (kind) {
    case MPPROPTYPE_INT: e->MPPropAddInt(int32_t(d), kind, flags, -int32_t(d), int32_t(d) * 3, "i"); break;
    case MPPROPTYPE_FLOAT: e->MPPropAddFloat(0.5f, kind, flags, -1.0f, float(d), 0.01f * float(d % 7 + 1), "f"); break;
    case MPPROPTYPE_FLOAT_POSY:
    case MPPROPTYPE_FLOAT_ANIM_PROGRESS: e->MPPropAddFloat(0.0f, kind, flags, 0.0f, 1.0f, 0.0f, "p"); break;
    case MPPROPTYPE_BOOL: e->MPPropAddBool(true, kind, flags, "b"); break;
    case MPPROPTYPE_ANIM: e->MPPropAddAnim(MPAnimValue(), flags, "a"); break;
    case MPPROPTYPE_ENTITY: e->MPPropAddEntity(nullptr, flags, "e"); break;
    default: e->MPPropAddVec(Vector(1, 2, 3, 1), kind, flags, "v"); break;
    }
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    // Four declarations, then a create of the standard three and an update of everything.
    std::vector<uint8_t> in = {4, MPPROPTYPE_INT, MPPROPTYPE_ANIM | 0x20, MPPROPTYPE_VEC_ANGLEXY, MPPROPTYPE_ENTITY};
    const auto record = [&](uint64_t mask, uint32_t bits, uint8_t create) {
        in.insert(in.end(), reinterpret_cast<uint8_t*>(&mask), reinterpret_cast<uint8_t*>(&mask) + 8);
        const uint64_t snap = mask & 0x10;
        in.insert(in.end(), reinterpret_cast<const uint8_t*>(&snap), reinterpret_cast<const uint8_t*>(&snap) + 8);
        const uint16_t t = uint16_t(bits);
        in.insert(in.end(), reinterpret_cast<const uint8_t*>(&t), reinterpret_cast<const uint8_t*>(&t) + 2);
        for (uint32_t i = 0; i < (bits + 7) / 8; ++i) in.push_back(uint8_t(i * 37));
        in.push_back(create);
        in.push_back(66);
        in.push_back(0);
    };
    record(7, 58, 1);
    record(0x7F, 58 + 9 + 16 + 16 + 12, 0);
    add(in.data(), in.size());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    gEntityManager->Init(BoundingBox4(Vector(-100, -25, -100, 1), Vector(100, 200, 100, 1)), 10.0f);
    static EntityTemplate plain;
    plain.SetName("plain");
    gPlain = &plain;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    Entity* e = gEntityManager->CreateEntityFromTemplate(gPlain, nullptr, Matrix::IDENTITY, ENTITYCREATION_MULTIPLAYER_PROXY, nullptr);
    if (!e) return 0;
    e->SetMultiplayerId(5);
    e->CreateMPProperties();
    uint8_t count = 0;
    in.Take(count);
    for (uint32_t i = 0; i < count && i < 80; ++i) {
        uint8_t d = 0;
        if (!in.Take(d)) break;
        Declare(e, d);
    }
    uint64_t time = 1000000;
    for (int record = 0; record < 32; ++record) {
        uint64_t mask = 0, snap = 0;
        uint16_t bits = 0;
        if (!in.Take(mask) || !in.Take(snap) || !in.Take(bits)) break;
        MPFieldBuffer fields;
        fields.totalBits = bits % (kMaxMPFieldBits + 1);
        fields.bytesUsed = (fields.totalBits + 7) / 8;
        const size_t n = std::min<size_t>(fields.bytesUsed, in.size - in.at);
        std::memcpy(fields.data, in.data + in.at, n);
        in.at += n;
        uint8_t create = 0;
        uint16_t step = 0;
        in.Take(create);
        in.Take(step);
        time += uint64_t(step % 2000) * 1000;
        SetMPHostFrameTimes(time > 66666 ? time - 66666 : 0, time);
        e->MPPropDeserialize(fields, mask, snap, time, create & 1);
        for (uint64_t t = time - 50000; t <= time + 300000; t += 50000) e->MPPropTick(t);
        if (e->GetMPProperties()->Count() > kMaxMPProperties) std::abort();
    }
    gEntityManager->DestroyEntity(e);
    return 0;
}
