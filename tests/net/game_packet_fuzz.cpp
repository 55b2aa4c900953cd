// test-timeout: 900
// Game packets and time-sync frames from a hostile peer. Each input is a short sequence
// (up to 16) of records {u8 engine (0 host, 1 client), u8 kind (0 game packet, 1
// time-sync frame), u16 length, the bytes}, fed in order with a wake between them to a
// host and a client that are connected and have reliable calls and texts queued.
// Afterwards both still send well-formed packets to each other. The same bytes also make
// a run of method calls, written into one packet and read back from cuts of it: what a
// cut packet yields is the calls wholly before the cut, unchanged. Seeds come from the
// independent writer (tests/support/netbits.py).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "NetMatch.h"
#include "ProgramStaticInit.h"

namespace {

// Every packet an endpoint sends must parse and walk to its end.
struct WellFormed {
    bool ok = true;
    uint32_t packets = 0;
    explicit WellFormed(LoopbackNetDriver* d) {
        d->SetSendTap([this](const uint8_t* data, uint32_t length, uint32_t kind) {
            if (kind != NETFRAME_GAME_PACKET) return;
            ++packets;
            static GamePacket p;
            if (length > kMaxPacketBytes || !p.Parse(data, length) || p.ReceivedCount(SECTION_ENTITIES) != 0) {
                ok = false;
                return;
            }
            BitReader& in = p.Reader();
            for (uint32_t i = 0; ok && i < p.ReceivedCount(SECTION_DICTIONARY); ++i) {
                uint8_t slot, guid[16];
                ok = ReadDictionaryItem(in, slot, guid);
            }
            for (uint32_t i = 0; ok && i < p.ReceivedCount(SECTION_ACKS); ++i) {
                uint16_t id;
                ok = ReadAckItem(in, id);
            }
            for (uint32_t i = 0; ok && i < p.ReceivedCount(SECTION_CALLS); ++i) {
                uint32_t s;
                MPMethodCall c;
                ok = ReadCallItem(in, s, c);
            }
            for (uint32_t i = 0; ok && i < p.ReceivedCount(SECTION_TEXTS); ++i) {
                uint32_t s, n;
                char16_t units[kMaxChatUnits + 1];
                ok = ReadTextItem(in, s, units, n);
            }
            if (ok && in.Remaining() >= 8) ok = false;
        });
    }
};

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "game_packet_fuzz: %s\n", what);
    std::abort();
}

bool SameCall(const MPMethodCall& a, const MPMethodCall& b) {
    if (a.methodId != b.methodId || a.argCount != b.argCount || a.dataSize != b.dataSize) return false;
    for (uint32_t i = 0; i < a.argCount; ++i)
        if (a.GetArgType(i) != b.GetArgType(i)) return false;
    return std::memcmp(a.data, b.data, a.dataSize) == 0;
}

// One call from the input at `at`: method id, argument count, then per argument a kind
// byte and its value bytes (a string: a length byte, then the text).
MPMethodCall CallFrom(const uint8_t* data, size_t size, size_t& at) {
    MPMethodCall c;
    c.methodId = data[at];
    const uint32_t args = data[at + 1] % (MPMethodCall::kMaxArgs + 1);
    at += 2;
    uint8_t value[MPMethodCall::kMaxStringLength] = {};
    const auto take = [&](size_t n) {
        const size_t got = n < size - at ? n : size - at;
        std::memset(value, 0, n);
        std::memcpy(value, data + at, got);
        at += got;
    };
    for (uint32_t i = 0; i < args && at < size; ++i) {
        switch (data[at++] % 6) {
        case MPARG_NIL: c.AddNilArg(); break;
        case MPARG_BOOL:
            take(1);
            c.AddBoolArg(value[0] & 1);
            break;
        case MPARG_NUMBER: {
            float v;
            take(4);
            std::memcpy(&v, value, 4);
            c.AddNumberArg(v);
            break;
        }
        case MPARG_ENTITY:
            take(2);
            c.AddEntityArg(uint16_t((value[0] | value[1] << 8) % kNoMultiplayerId));
            break;
        case MPARG_VECTOR: {
            float v[4];
            take(16);
            std::memcpy(v, value, 16);
            c.AddVectorArg(Vector(v[0], v[1], v[2], v[3]));
            break;
        }
        default: {
            take(1);
            const uint32_t length = value[0];
            take(length);
            c.AddStringArg(reinterpret_cast<const char*>(value), length);
            break;
        }
        }
    }
    return c;
}

// Reads the packet's calls from a cut at `cut` bits: the calls ending at or before it
// come back as written, and the call it runs through is refused.
void CheckCut(const uint8_t* bytes, uint32_t cut, const std::vector<MPMethodCall>& written, const std::vector<uint32_t>& ends) {
    BitReader in(bytes, cut, kPacketHeaderBits);
    for (size_t i = 0; i < written.size(); ++i) {
        uint32_t sequence = 0;
        MPMethodCall back;
        const bool read = ReadCallItem(in, sequence, back);
        if (ends[i] > cut) {
            Check(!read, "a call cut short was read");
            return;
        }
        Check(read && sequence == i + 1 && SameCall(back, written[i]), "a whole call read back differently");
    }
}

void CheckCutCalls(const uint8_t* data, size_t size) {
    static GamePacket packet;
    packet.Reset();
    std::vector<MPMethodCall> written;
    std::vector<uint32_t> ends;  // each call's end, in packet bits
    for (size_t at = 0; at + 2 <= size && written.size() < 16;) {
        const MPMethodCall c = CallFrom(data, size, at);
        packet.BeginSection(SECTION_CALLS);
        const bool fits = WriteCallItem(packet, uint32_t(written.size() + 1), c) && !packet.Overflowed();
        packet.EndSection();
        if (!fits) break;
        written.push_back(c);
        ends.push_back(kPacketHeaderBits + packet.SectionBits(SECTION_CALLS));
    }
    if (written.empty()) return;
    static uint8_t bytes[kMaxPacketBytes + BitWriter::kSlackBytes];
    packet.Build(bytes);
    // Every cut through one call the input picks, and cuts across the whole run.
    const size_t pick = data[0] % written.size();
    for (uint32_t cut = pick ? ends[pick - 1] : kPacketHeaderBits; cut <= ends[pick]; ++cut) CheckCut(bytes, cut, written, ends);
    for (uint32_t cut = kPacketHeaderBits; cut <= ends.back(); cut += 13) CheckCut(bytes, cut, written, ends);
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    for (const std::string& line : nettest::RunNetbits("fuzz 1")) {
        const std::vector<uint8_t> bytes = nettest::FromHex(line);
        add(bytes.data(), bytes.size());
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckCutCalls(data, size);
    nettest::Match m(0, 0x10000, 0x40000);  // small rings: set up per input
    if (!m.Connect()) Check(false, "the engines did not connect");
    m.host.engine->SynchronizePlayer(m.host.engine->GetRemotePlayer(0));
    for (int i = 0; i < 3; ++i) {
        MPMethodCall c;
        c.methodId = uint8_t(i);
        c.AddStringArg("fuzz", 4);
        m.host.engine->ReplicateMethodCall(m.host.engine->GetRemotePlayer(0), c, true);
        m.client.engine->ReplicateMethodCall(m.client.engine->GetLocalPlayer(), c, true);
        m.host.engine->SendChatMessage(0, u"text");
        m.client.engine->SendChatMessage(0, u"text");
    }
    m.host.engine->EndFrame(1000000);
    m.Step(250000);

    size_t at = 0;
    for (int record = 0; record < 16 && at + 4 <= size; ++record) {
        const uint8_t engine = data[at] & 1;
        const uint8_t kind = data[at + 1] & 1;
        uint16_t length;
        std::memcpy(&length, data + at + 2, 2);
        at += 4;
        if (length > size - at) length = uint16_t(size - at);
        nettest::Side& side = engine ? m.client : m.host;
        side.driver->Inject(kind, data + at, length);
        at += length;
        side.engine->RunWake();
        side.engine->UpdateMainThread();
        side.engine->DispatchReplicatedMethodCalls(true);
    }

    WellFormed hostOut(m.host.driver), clientOut(m.client.driver);
    for (int i = 0; i < 4; ++i) {
        m.host.engine->EndFrame(2000000 + uint64_t(i) * 66666);
        m.Step(250000);
        m.client.engine->DispatchReplicatedMethodCalls(true);
    }
    Check(m.host.engine->Peers().Count() == 1 && m.client.engine->Peers().Count() == 1, "a peer was lost");
    Check(hostOut.packets >= 4 && clientOut.packets >= 4, "packets stopped");
    Check(hostOut.ok && clientOut.ok, "a malformed packet was sent");
    m.host.driver->SetSendTap(nullptr);
    m.client.driver->SetSendTap(nullptr);
    return 0;
}
