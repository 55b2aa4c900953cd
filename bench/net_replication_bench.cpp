// Entity records against a naive byte-aligned encoding of the same fields, and one host
// replication step for 1,000 entities beside a bare copy of their property values.
//
// Each entity changes "PosXZ", "PosY", "Rot", an INT [0, 255] and a FLOAT [0, 1] every
// step. Its wire record is 115 bits; the naive one (u16 id, u8 flags, u64 dirty mask, each
// component a 32-bit float or int) 280 bits.
//
// The naive records go through the same packets as the wire records: the same entity
// section, the packet's checked writes, Build and Parse, and its bounded reader, only
// byte-aligned and unquantised. The same records copied raw with memcpy into one buffer,
// with no packet, are measured beside them and printed as well.
//
// Goals: the wire records at most 0.5 of the naive size, and writing plus reading them,
// quantisation included, at least 0.35 of the rate of the naive records through the
// packet. The figures printed after the runs are the medians of the repetitions.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/RateReporter.h"
#include "core/BitStream.h"
#include "engine/entity/MPProperty.h"
#include "net/packet/GamePacket.h"
#include "net/replication/EntityReplicationState.h"

namespace {

constexpr uint32_t kEntities = 1000;

struct Values {
    float x, z, y, rot;
    int32_t i;
    float f;
};

struct Kinds {
    MPProperty p[5];
    Kinds() {
        SetMPReplicationBox(Vector(-100, -25, -100, 1), Vector(100, 200, 100, 1));
        const uint32_t kinds[5] = {MPPROPTYPE_VEC_POSXZ, MPPROPTYPE_FLOAT_POSY, MPPROPTYPE_VEC_ANGLEY, MPPROPTYPE_INT, MPPROPTYPE_FLOAT};
        for (uint32_t k = 0; k < 5; ++k) {
            p[k].kind = kinds[k];
            p[k].bits = MPPropKindBits(kinds[k]);
        }
        p[3].bits = MPPropIntBits(p[3].intMin, p[3].intMax);
        p[4].bits = MPPropFloatBits(p[4].floatMin, p[4].floatMax, p[4].floatStep);
    }
};

std::vector<Values> Make(uint32_t step) {
    std::vector<Values> v(kEntities);
    uint64_t s = 12345 + step;
    const auto next = [&] {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return float(uint32_t(s >> 40)) / 16777216.0f;
    };
    for (Values& e : v) e = {next() * 200 - 100, next() * 200 - 100, next() * 100, next() * 360, int32_t(next() * 255), next()};
    return v;
}

// a: scratch, as a writer keeps one (a value is 96 bytes to clear).
void Fields(const Kinds& k, const Values& v, MPValue& a, MPFieldBuffer& out) {
    out.Clear();
    a.v = Vector(v.x, 0, v.z, 1);
    out.Append(MPPropEncode(k.p[0], a, nullptr), k.p[0].bits);
    a.f = v.y;
    out.Append(MPPropEncode(k.p[1], a, nullptr), k.p[1].bits);
    a.v = Vector(0, v.rot, 0, 1);
    out.Append(MPPropEncode(k.p[2], a, nullptr), k.p[2].bits);
    a.i = v.i;
    out.Append(MPPropEncode(k.p[3], a, nullptr), k.p[3].bits);
    a.f = v.f;
    out.Append(MPPropEncode(k.p[4], a, nullptr), k.p[4].bits);
}

// Reads a received record's packed fields back into values.
void Decode(const Kinds& k, const EntityRecord& r, MPValue& a, Values& out) {
    BitReader in(r.fields.data, r.fields.totalBits, 0, kMPFieldBufferBytes);
    uint64_t q = 0;
    in.ReadValue(q, k.p[0].bits);
    MPPropDecode(k.p[0], q, a);
    out.x = a.v.x;
    out.z = a.v.z;
    in.ReadValue(q, k.p[1].bits);
    MPPropDecode(k.p[1], q, a);
    out.y = a.f;
    in.ReadValue(q, k.p[2].bits);
    MPPropDecode(k.p[2], q, a);
    out.rot = a.v.y;
    in.ReadValue(q, k.p[3].bits);
    MPPropDecode(k.p[3], q, a);
    out.i = a.i;
    in.ReadValue(q, k.p[4].bits);
    MPPropDecode(k.p[4], q, a);
    out.f = a.f;
}

// Writes records into packets of 1,200 bytes and reads each packet back.
struct WireRun {
    GamePacket packet;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kMaxPacketBytes + BitWriter::kSlackBytes);
    uint64_t bits = 0;
    std::vector<EntityRecord> pending;
    std::vector<Values> decoded = std::vector<Values>(kEntities);
    EntityRecord received;
    MPValue scratch;
    const Kinds& kinds;
    explicit WireRun(const Kinds& k) : kinds(k) {}

    void Flush() {
        const uint32_t n = packet.Build(bytes.data());
        static GamePacket reader;
        reader.Parse(bytes.data(), n);
        // The reader sets every member of the record it reads into: one serves them all.
        for (uint32_t i = 0; i < reader.ReceivedCount(SECTION_ENTITIES); ++i) {
            ReadEntityRecordWire(reader.Reader(), received);
            const EntityRecord& r = received;
            Decode(kinds, r, scratch, decoded[r.multiplayerId % kEntities]);
        }
        packet.Reset();
    }
    void Write(const EntityRecord& r) {
        packet.Save();
        packet.BeginSection(SECTION_ENTITIES);
        WriteEntityRecordWire(packet, r);
        packet.EndSection();
        if (packet.Overflowed()) {
            packet.Restore();
            Flush();
            packet.BeginSection(SECTION_ENTITIES);
            WriteEntityRecordWire(packet, r);
            packet.EndSection();
        }
    }
};

void WireRecords(benchmark::State& state) {
    static Kinds kinds;
    const std::vector<Values> values = Make(0);
    WireRun run(kinds);
    EntityRecord r;
    r.flags = ENTITYRECORD_PROPERTIES;
    r.dirtyMask = 0x1F;
    uint64_t recordBits = 0;  // counted outside the timed loop
    for (uint32_t i = 0; i < kEntities; ++i) {
        Fields(kinds, values[i], run.scratch, r.fields);
        recordBits += EntityRecordWireBits(r);
    }
    for (auto _ : state) {
        for (uint32_t i = 0; i < kEntities; ++i) {
            r.multiplayerId = uint16_t(i);
            Fields(kinds, values[i], run.scratch, r.fields);
            run.Write(r);
        }
        run.Flush();
        benchmark::DoNotOptimize(run.decoded.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kEntities);
    state.counters["bits_per_record"] = double(recordBits) / kEntities;
    state.counters["size_vs_naive"] = double(recordBits) / (kEntities * 280.0);
}

// The naive record through the same packets: byte-aligned fields (u16 id, u8 flags, u64
// dirty mask, each component a 32-bit float or int) written with the packet's checked
// writes into the entity section, each packet built, parsed and every record read back
// with the packet's bounded reader, as a straightforward implementation would.
struct NaiveRun {
    GamePacket packet;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kMaxPacketBytes + BitWriter::kSlackBytes);
    std::vector<Values> decoded = std::vector<Values>(kEntities);

    static uint32_t Bits(float f) {
        uint32_t u;
        std::memcpy(&u, &f, 4);
        return u;
    }
    static float Float(uint64_t u) {
        const uint32_t w = uint32_t(u);
        float f;
        std::memcpy(&f, &w, 4);
        return f;
    }
    bool WriteRecord(uint16_t id, const Values& v) {
        packet.BeginSection(SECTION_ENTITIES);
        const bool ok = packet.WriteValue(id, 16) && packet.WriteValue(1, 8) && packet.WriteValue(0x1F, 64) &&
                        packet.WriteValue(Bits(v.x), 32) && packet.WriteValue(Bits(v.z), 32) &&
                        packet.WriteValue(Bits(v.y), 32) && packet.WriteValue(Bits(v.rot), 32) &&
                        packet.WriteValue(uint32_t(v.i), 32) && packet.WriteValue(Bits(v.f), 32);
        packet.EndSection();
        return ok && !packet.Overflowed();
    }
    void Write(uint16_t id, const Values& v) {
        packet.Save();
        if (WriteRecord(id, v)) return;
        packet.Restore();
        Flush();
        WriteRecord(id, v);
    }
    void Flush() {
        const uint32_t n = packet.Build(bytes.data());
        static GamePacket reader;
        reader.Parse(bytes.data(), n);
        BitReader& in = reader.Reader();
        for (uint32_t i = 0; i < reader.ReceivedCount(SECTION_ENTITIES); ++i) {
            uint64_t id = 0, flags = 0, dirty = 0, x = 0;
            if (!in.ReadValue(id, 16) || !in.ReadValue(flags, 8) || !in.ReadValue(dirty, 64)) break;
            if (!(flags & 1)) continue;
            Values& v = decoded[id % kEntities];
            if (dirty & 1) {
                if (!in.ReadValue(x, 32)) break;
                v.x = Float(x);
                if (!in.ReadValue(x, 32)) break;
                v.z = Float(x);
            }
            if ((dirty & 2) && in.ReadValue(x, 32)) v.y = Float(x);
            if ((dirty & 4) && in.ReadValue(x, 32)) v.rot = Float(x);
            if ((dirty & 8) && in.ReadValue(x, 32)) v.i = int32_t(uint32_t(x));
            if ((dirty & 16) && in.ReadValue(x, 32)) v.f = Float(x);
        }
        packet.Reset();
    }
};

void NaiveRecords(benchmark::State& state) {
    const std::vector<Values> values = Make(0);
    NaiveRun run;
    for (auto _ : state) {
        for (uint32_t i = 0; i < kEntities; ++i) run.Write(uint16_t(i), values[i]);
        run.Flush();
        benchmark::DoNotOptimize(run.decoded.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kEntities);
}

// The same naive records as raw bytes in one buffer, copied with memcpy and read back
// with no packet around them: a floor for any encoding, not a writer a game would use.
void RawNaiveRecords(benchmark::State& state) {
    const std::vector<Values> values = Make(0);
    std::vector<uint8_t> buffer(size_t(kEntities) * 35);
    std::vector<Values> decoded(kEntities);
    for (auto _ : state) {
        uint8_t* p = buffer.data();
        for (uint32_t i = 0; i < kEntities; ++i) {
            const uint16_t id = uint16_t(i);
            const uint8_t flags = 1;
            const uint64_t dirty = 0x1F;
            const Values& v = values[i];
            std::memcpy(p, &id, 2), p += 2;
            *p++ = flags;
            std::memcpy(p, &dirty, 8), p += 8;
            std::memcpy(p, &v.x, 4), p += 4;
            std::memcpy(p, &v.z, 4), p += 4;
            std::memcpy(p, &v.y, 4), p += 4;
            std::memcpy(p, &v.rot, 4), p += 4;
            std::memcpy(p, &v.i, 4), p += 4;
            std::memcpy(p, &v.f, 4), p += 4;
        }
        // A plain reader of the same format: flags and dirty mask first, then the
        // components the mask names, each record checked against the bytes written.
        const uint8_t* q = buffer.data();
        const uint8_t* const end = p;
        while (end - q >= 11) {
            uint16_t id;
            uint64_t dirty;
            std::memcpy(&id, q, 2);
            const uint8_t flags = q[2];
            std::memcpy(&dirty, q + 3, 8);
            q += 11;
            if (!(flags & 1)) continue;
            const long need = (dirty & 1 ? 8 : 0) + 4 * __builtin_popcountll(dirty & 0x1E);
            if (end - q < need) break;
            Values& v = decoded[id % kEntities];
            if (dirty & 1) {
                std::memcpy(&v.x, q, 4), q += 4;
                std::memcpy(&v.z, q, 4), q += 4;
            }
            if (dirty & 2) std::memcpy(&v.y, q, 4), q += 4;
            if (dirty & 4) std::memcpy(&v.rot, q, 4), q += 4;
            if (dirty & 8) std::memcpy(&v.i, q, 4), q += 4;
            if (dirty & 16) std::memcpy(&v.f, q, 4), q += 4;
        }
        benchmark::ClobberMemory();
        benchmark::DoNotOptimize(decoded.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kEntities);
}

// One step on the host's network side: the records applied to the states, built for a
// peer, written and read back by the client, decoded.
void ReplicationStep(benchmark::State& state) {
    static Kinds kinds;
    static EntityReplicationStates states;
    states.Reset();
    std::vector<PeerEntityEntry> peer(kMultiplayerIdCount);
    WireRun run(kinds);
    uint32_t step = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<Values> values = Make(++step);
        state.ResumeTiming();
        for (uint32_t i = 0; i < kEntities; ++i) {
            EntityRecord r;
            r.multiplayerId = uint16_t(i);
            r.flags = step == 1 ? ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES : ENTITYRECORD_PROPERTIES;
            r.dirtyMask = 0x1F;
            Fields(kinds, values[i], run.scratch, r.fields);
            states.Apply(r);
        }
        for (uint32_t i = 0; i < kEntities; ++i) {
            EntityRecord out;
            states.BuildRecord(states[i], peer[i].acknowledgedVersion, 1, out);
            run.Write(out);
            peer[i].acknowledgedVersion = out.version;
        }
        run.Flush();
        benchmark::DoNotOptimize(run.decoded.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kEntities);
}

void BareCopy(benchmark::State& state) {
    std::vector<Values> from = Make(1), to(kEntities);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), sizeof(Values) * kEntities);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kEntities);
}

}  // namespace

BENCHMARK(WireRecords);
BENCHMARK(NaiveRecords);
BENCHMARK(RawNaiveRecords);
BENCHMARK(ReplicationStep);
BENCHMARK(BareCopy);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("wire records / naive records through the packet, rate",
                              reporter.Ratio("WireRecords", "items_per_second", "NaiveRecords", "items_per_second"),
                              "at least 0.35");
    benchsupport::PrintFigure("wire records / raw memcpy of the naive records, rate",
                              reporter.Ratio("WireRecords", "items_per_second", "RawNaiveRecords", "items_per_second"));
    benchsupport::PrintFigure("wire record size / naive record size", reporter.Of("WireRecords", "size_vs_naive"),
                              "at most 0.5");
    benchmark::Shutdown();
    return 0;
}
