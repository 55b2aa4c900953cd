// The bit stream against byte-aligned copies of the same values, and a full game packet
// of method calls built and read back by an engine beside a plain copy of its bytes.
// The values have the widths 1, 3, 4, 8, 12, 16, 32 and 128 bits, repeating; the
// byte-aligned side writes them as a plain writer of that layout would, each with one
// fixed-size store (1, 1, 1, 1, 2, 2, 4 and 16 bytes), and reads them the same way.
//
// Goal: the bit stream writes and reads at least half as many values per second as the
// byte-aligned copies of the same values. The ratio of the rates is printed after the
// runs, the median of the repetitions.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/RateReporter.h"
#include "core/BitStream.h"
#include "net/LoopbackNetDriver.h"
#include "net/MultiplayerEngine.h"
#include "net/packet/GamePacket.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr uint32_t kValues = 1000000;
constexpr uint32_t kWidths[8] = {1, 3, 4, 8, 12, 16, 32, 128};
constexpr uint32_t kBytes[8] = {1, 1, 1, 1, 2, 2, 4, 16};

struct Values {
    std::vector<uint8_t> source;  // 16 bytes per value, the low bits meaningful
    Values() : source(size_t(kValues) * 16) {
        uint64_t s = 1;
        for (uint8_t& b : source) {
            s = s * 6364136223846793005ull + 1442695040888963407ull;
            b = uint8_t(s >> 56);
        }
    }
};
const Values& TheValues() {
    static Values v;
    return v;
}

void BitStreamWriteRead(benchmark::State& state) {
    const Values& v = TheValues();
    const uint32_t totalBits = (kValues / 8) * (1 + 3 + 4 + 8 + 12 + 16 + 32 + 128);
    std::vector<uint8_t> buffer(totalBits / 8 + BitWriter::kSlackBytes);
    uint8_t out[16];
    for (auto _ : state) {
        std::memset(buffer.data(), 0, buffer.size());
        BitWriter w(buffer.data(), totalBits);
        for (uint32_t i = 0; i < kValues; ++i) {
            const uint32_t n = kWidths[i & 7];
            const uint8_t* p = &v.source[size_t(i) * 16];
            if (n <= 64) {
                uint64_t x;
                std::memcpy(&x, p, 8);
                w.WriteValue(x, n);
            } else {
                w.WriteBits(p, n);
            }
        }
        BitReader r(buffer.data(), w.BitCount());
        uint64_t sum = 0;
        for (uint32_t i = 0; i < kValues; ++i) {
            const uint32_t n = kWidths[i & 7];
            if (n <= 64) {
                uint64_t x;
                r.ReadValue(x, n);
                sum += x;
            } else {
                r.ReadBits(out, n);
                sum += out[0];
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kValues);
}
BENCHMARK(BitStreamWriteRead)->Unit(benchmark::kMillisecond);

// Each value's bytes, one fixed-size store or load per field as a plain writer of this
// layout (1, 1, 1, 1, 2, 2, 4 and 16 bytes, repeating) would make them.
template <typename T>
inline void Store(uint8_t*& at, const uint8_t* from) {
    T x;
    std::memcpy(&x, from, sizeof x);
    std::memcpy(at, &x, sizeof x);
    at += sizeof x;
}
template <typename T>
inline T Load(const uint8_t*& at) {
    T x;
    std::memcpy(&x, at, sizeof x);
    at += sizeof x;
    return x;
}

void ByteAlignedWriteRead(benchmark::State& state) {
    const Values& v = TheValues();
    const size_t totalBytes = size_t(kValues / 8) * (1 + 1 + 1 + 1 + 2 + 2 + 4 + 16);
    std::vector<uint8_t> buffer(totalBytes);
    uint8_t out[16];
    for (auto _ : state) {
        std::memset(buffer.data(), 0, buffer.size());
        uint8_t* w = buffer.data();
        for (uint32_t i = 0; i < kValues; i += 8) {
            const uint8_t* p = &v.source[size_t(i) * 16];
            Store<uint8_t>(w, p);
            Store<uint8_t>(w, p + 16);
            Store<uint8_t>(w, p + 32);
            Store<uint8_t>(w, p + 48);
            Store<uint16_t>(w, p + 64);
            Store<uint16_t>(w, p + 80);
            Store<uint32_t>(w, p + 96);
            std::memcpy(w, p + 112, 16);
            w += 16;
        }
        const uint8_t* r = buffer.data();
        uint64_t sum = 0;
        for (uint32_t i = 0; i < kValues; i += 8) {
            sum += Load<uint8_t>(r);
            sum += Load<uint8_t>(r);
            sum += Load<uint8_t>(r);
            sum += Load<uint8_t>(r);
            sum += Load<uint16_t>(r);
            sum += Load<uint16_t>(r);
            sum += Load<uint32_t>(r);
            std::memcpy(out, r, 16);
            r += 16;
            sum += out[0];
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kValues);
}
BENCHMARK(ByteAlignedWriteRead)->Unit(benchmark::kMillisecond);

// One engine reading packets from a peer record; its callbacks drained each time.
struct Reader {
    LoopbackLink link;
    std::unique_ptr<MultiplayerEngine> engine;
    GamePacket packet;
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kMaxPacketBytes + BitWriter::kSlackBytes);
    Reader() {
        static bool started = RunProgramStaticInit() || true;
        (void)started;
        MultiplayerEngine::Options o;
        o.driver = link.Endpoint(0);
        o.startThread = false;
        engine = std::make_unique<MultiplayerEngine>(o);
        engine->Peers().Insert(1, 0);
    }
    // A packet full of unreliable calls of three arguments.
    uint32_t Build() {
        packet.Reset();
        packet.frameTime = 1000000;
        packet.packetId = 1;
        MPMethodCall c;
        c.methodId = 4;
        c.AddNumberArg(1.5f);
        c.AddEntityArg(17);
        c.AddStringArg("attack", 6);
        for (;;) {
            packet.Save();
            packet.BeginSection(SECTION_CALLS);
            const bool ok = WriteCallItem(packet, 0, c);
            packet.EndSection();
            if (!ok) {
                packet.Restore();
                break;
            }
        }
        return packet.Build(bytes.data());
    }
};

void PacketBuildAndReceive(benchmark::State& state) {
    Reader r;
    uint32_t length = 0;
    for (auto _ : state) {
        length = r.Build();
        r.engine->ReceivePacket(r.engine->Peers().Find(1), r.bytes.data(), length);
        r.engine->ProcessMessages();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * length);
    state.counters["calls"] = double(r.packet.ItemCount(SECTION_CALLS));
}
BENCHMARK(PacketBuildAndReceive);

void PacketMemcpy(benchmark::State& state) {
    std::vector<uint8_t> a(kMaxPacketBytes, 7), b(kMaxPacketBytes);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kMaxPacketBytes);
}
BENCHMARK(PacketMemcpy);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("bit stream / byte-aligned fixed-size stores, rate",
                              reporter.Ratio("BitStreamWriteRead", "items_per_second", "ByteAlignedWriteRead",
                                             "items_per_second"),
                              "at least 0.5");
    benchmark::Shutdown();
    return 0;
}
