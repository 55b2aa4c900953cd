// The bit stream against byte-aligned copies of the same values, and a full game packet
// of method calls built and read back by an engine beside a plain copy of its bytes.
// The values have the widths 1, 3, 4, 8, 12, 16, 32 and 128 bits, repeating, eight
// fields a round, each written with its width where it is written; the byte-aligned side
// writes them as a plain writer of that layout would, each with one fixed-size store (1, 1,
// 1, 1, 2, 2, 4 and 16 bytes), and reads them the same way. Both sides test every write
// and read against the buffer's end, and both run in every iteration.
//
// Goal: the bit stream writes and reads at least half as many values per second as the
// byte-aligned copies of the same values. The ratio of the rates is printed after the
// runs, the median of the repetitions.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "core/BitStream.h"
#include "net/LoopbackNetDriver.h"
#include "net/MultiplayerEngine.h"
#include "net/packet/GamePacket.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr uint32_t kValues = 1000000;

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

// One pass of each way: every value written into the buffer, then read back; the sum of
// what was read. Eight fields a round, each written and read with its width or size where
// it is written, as a packet's writer and reader of this layout do.
uint64_t BitStreamPass(const Values& v, std::vector<uint8_t>& buffer, uint32_t totalBits) {
    const auto word = [](const uint8_t* p) {
        uint64_t x;
        std::memcpy(&x, p, 8);
        return x;
    };
    std::memset(buffer.data(), 0, buffer.size());
    BitWriter w(buffer.data(), totalBits);
    for (uint32_t i = 0; i < kValues; i += 8) {
        const uint8_t* p = &v.source[size_t(i) * 16];
        w.WriteValue(word(p), 1);
        w.WriteValue(word(p + 16), 3);
        w.WriteValue(word(p + 32), 4);
        w.WriteValue(word(p + 48), 8);
        w.WriteValue(word(p + 64), 12);
        w.WriteValue(word(p + 80), 16);
        w.WriteValue(word(p + 96), 32);
        w.WriteBits(p + 112, 128);
    }
    BitReader r(buffer.data(), w.BitCount());
    uint64_t sum = 0;
    uint8_t out[16];
    for (uint32_t i = 0; i < kValues; i += 8) {
        uint64_t x[7] = {};
        r.ReadValue(x[0], 1);
        r.ReadValue(x[1], 3);
        r.ReadValue(x[2], 4);
        r.ReadValue(x[3], 8);
        r.ReadValue(x[4], 12);
        r.ReadValue(x[5], 16);
        r.ReadValue(x[6], 32);
        r.ReadBits(out, 128);
        sum += x[0] + x[1] + x[2] + x[3] + x[4] + x[5] + x[6] + out[0];
    }
    return sum;
}

// The byte-aligned writer and reader: one fixed-size store or load per field. Like the bit
// stream they test every field against the buffer's end (a reader of packets that came
// over the network must): a field that does not fit writes or reads nothing and fails.
struct ByteWriter {
    uint8_t* at;
    uint8_t* end;
    template <size_t N>
    bool Put(const uint8_t* from) {
        if (size_t(end - at) < N) return false;
        std::memcpy(at, from, N);
        at += N;
        return true;
    }
};
struct ByteReader {
    const uint8_t* at;
    const uint8_t* end;
    template <size_t N>
    bool Get(void* to) {
        if (size_t(end - at) < N) return false;
        std::memcpy(to, at, N);
        at += N;
        return true;
    }
};

uint64_t ByteAlignedPass(const Values& v, std::vector<uint8_t>& buffer) {
    std::memset(buffer.data(), 0, buffer.size());
    ByteWriter w{buffer.data(), buffer.data() + buffer.size()};
    for (uint32_t i = 0; i < kValues; i += 8) {
        const uint8_t* p = &v.source[size_t(i) * 16];
        w.Put<1>(p);
        w.Put<1>(p + 16);
        w.Put<1>(p + 32);
        w.Put<1>(p + 48);
        w.Put<2>(p + 64);
        w.Put<2>(p + 80);
        w.Put<4>(p + 96);
        w.Put<16>(p + 112);
    }
    ByteReader r{buffer.data(), w.at};
    uint64_t sum = 0;
    uint8_t out[16];
    for (uint32_t i = 0; i < kValues; i += 8) {
        uint8_t a = 0, b = 0, c = 0, d = 0;
        uint16_t e = 0, f = 0;
        uint32_t g = 0;
        r.Get<1>(&a);
        r.Get<1>(&b);
        r.Get<1>(&c);
        r.Get<1>(&d);
        r.Get<2>(&e);
        r.Get<2>(&f);
        r.Get<4>(&g);
        r.Get<16>(out);
        sum += a + b + c + d + e + f + g + out[0];
    }
    return sum;
}

// Both ways in every iteration, one after the other, so that whatever else loads the
// machine falls on both alike.
void BM_BitStreamAgainstByteAligned(benchmark::State& state) {
    const Values& v = TheValues();
    const uint32_t totalBits = (kValues / 8) * (1 + 3 + 4 + 8 + 12 + 16 + 32 + 128);
    std::vector<uint8_t> bits(totalBits / 8 + BitWriter::kSlackBytes);
    std::vector<uint8_t> bytes(size_t(kValues / 8) * (1 + 1 + 1 + 1 + 2 + 2 + 4 + 16));
    double bitTime = 0, byteTime = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(BitStreamPass(v, bits, totalBits));
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(ByteAlignedPass(v, bytes));
        const auto t2 = std::chrono::steady_clock::now();
        bitTime += benchsupport::Seconds(t0, t1);
        byteTime += benchsupport::Seconds(t1, t2);
    }
    const double values = double(state.iterations()) * kValues;
    state.counters["bit_values_per_s"] = values / bitTime;
    state.counters["byte_values_per_s"] = values / byteTime;
    state.counters["bit/byte"] = byteTime / bitTime;
}
BENCHMARK(BM_BitStreamAgainstByteAligned)->Unit(benchmark::kMillisecond)->UseRealTime();

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
    const std::string name = "BM_BitStreamAgainstByteAligned";
    std::printf("bit stream %.0f values/s, byte-aligned %.0f values/s (medians)\n",
                reporter.Median(name, "bit_values_per_s"), reporter.Median(name, "byte_values_per_s"));
    benchsupport::PrintFigure("bit stream / byte-aligned fixed-size stores, rate", reporter.Of(name, "bit/byte"),
                              "at least 0.5");
    benchmark::Shutdown();
    return 0;
}
