// Game packets between two engines over the in-memory driver pair: the send pass, the
// packet reader's rules, hostile peers, and reliable calls and texts over a lossy link.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "NetMatch.h"

namespace {

using nettest::Match;

struct SentPacket {
    uint16_t id;
    uint8_t count;
    uint32_t size;
    uint16_t items[5];
    std::vector<uint8_t> bytes;
};

// Taps an endpoint's game packets.
struct Tap {
    std::vector<SentPacket> packets;
    explicit Tap(LoopbackNetDriver* d) {
        d->SetSendTap([this](const uint8_t* data, uint32_t length, uint32_t kind) {
            if (kind != NETFRAME_GAME_PACKET) return;
            SentPacket p{};
            std::memcpy(&p.id, data + 13, 2);
            p.count = data[15];
            p.size = length;
            std::memcpy(p.items, data + 16, 10);
            p.bytes.assign(data, data + length);
            packets.push_back(p);
        });
    }
};

// A packet a peer might send: header fields and items written by a callback.
std::vector<uint8_t> Craft(uint16_t id, uint64_t frameTimeUs, std::function<void(GamePacket&)> items, uint32_t ackedReliable = 0,
                           uint32_t ackedText = 0, uint8_t count = 1) {
    static GamePacket p;
    p.Reset();
    p.packetId = id;
    p.frameTime = frameTimeUs;
    p.ackedReliable = ackedReliable;
    p.ackedText = ackedText;
    p.packetCount = count;
    if (items) items(p);
    std::vector<uint8_t> out(kMaxPacketBytes + BitWriter::kSlackBytes);
    out.resize(p.Build(out.data()));
    return out;
}

MPMethodCall Call(uint8_t method, float value = 0.0f) {
    MPMethodCall c;
    c.methodId = method;
    c.AddNumberArg(value);
    return c;
}

void AddCall(GamePacket& p, uint32_t sequence, const MPMethodCall& c) {
    p.BeginSection(SECTION_CALLS);
    WriteCallItem(p, sequence, c);
    p.EndSection();
}

void Inject(Match& m, bool toClient, const std::vector<uint8_t>& bytes) {
    (toClient ? m.client.driver : m.host.driver)->Inject(NETFRAME_GAME_PACKET, bytes.data(), uint32_t(bytes.size()));
    (toClient ? m.client.engine : m.host.engine)->RunWake();
    (toClient ? m.client.engine : m.host.engine)->UpdateMainThread();
}

// Frame times that keep increasing, in whole 10 ms units.
uint64_t gFrame = 1000000;
uint64_t NextFrame() { return gFrame += 10000; }

// ---------------------------------------------------------------------------------
// The send pass

TEST(GamePackets, AnIdlePassSendsOneHeaderOnlyPacket) {
    Match m;
    ASSERT_TRUE(m.Connect());
    Tap tap(m.host.driver);
    m.host.engine->EndFrame(5555555);
    m.host.engine->RunWake();
    ASSERT_EQ(tap.packets.size(), 1u);
    EXPECT_EQ(tap.packets[0].size, 26u);
    EXPECT_EQ(tap.packets[0].count, 1);
    for (uint16_t n : tap.packets[0].items) EXPECT_EQ(n, 0);
    uint32_t time10 = 0;
    std::memcpy(&time10, tap.packets[0].bytes.data() + 1, 4);
    EXPECT_EQ(time10, 555u) << "command 17 carries the step's time T";
}

TEST(GamePackets, PacketIdsWrapPastZeroAndByte15CountsThePass) {
    Match m;
    ASSERT_TRUE(m.Connect());
    Tap tap(m.host.driver);
    m.host.Peer()->nextPacketId = 65534;
    // Enough reliable calls for two packets in each pass (the client never answers).
    for (int i = 0; i < 60; ++i) {
        MPMethodCall c;
        c.methodId = 1;
        c.AddStringArg("0123456789012345678901234567890123456789", 40);
        m.host.engine->ReplicateMethodCall(m.host.engine->GetRemotePlayer(0), c, true);
    }
    m.host.engine->EndFrame(1000000);
    m.host.engine->RunWake();
    m.host.engine->EndFrame(1100000);
    m.host.engine->RunWake();
    ASSERT_EQ(tap.packets.size(), 4u);
    const uint16_t ids[] = {65534, 65535, 1, 2};
    const uint8_t counts[] = {0, 2, 0, 2};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tap.packets[i].id, ids[i]) << i;
        EXPECT_EQ(tap.packets[i].count, counts[i]) << "byte 15 of packet " << i;
        EXPECT_LE(tap.packets[i].size, 1200u);
    }
}

TEST(GamePackets, ClientAcknowledgesEachPacketInThreePasses) {
    Match m;
    ASSERT_TRUE(m.Connect());
    Tap tap(m.client.driver);
    Inject(m, true, Craft(700, NextFrame(), nullptr));
    for (int pass = 0; pass < 4; ++pass) {
        m.client.engine->EndFrame(0);
        m.client.engine->RunWake();
    }
    int carried = 0;
    for (const SentPacket& p : tap.packets) {
        for (uint16_t i = 0; i < p.items[SECTION_ACKS]; ++i) {
            uint16_t id;
            std::memcpy(&id, p.bytes.data() + 26 + 2 * i, 2);
            if (id == 700) ++carried;
        }
    }
    EXPECT_EQ(carried, 3);
    EXPECT_TRUE(m.client.Peer()->acks.empty());
}

TEST(GamePackets, UnreliableCallsOfOneMethodKeepTheLatest) {
    Match m;
    ASSERT_TRUE(m.Connect());
    Player* remote = m.host.engine->GetRemotePlayer(0);
    m.host.engine->ReplicateMethodCall(remote, Call(3, 1.0f), false);
    m.host.engine->ReplicateMethodCall(remote, Call(3, 2.0f), false);
    m.host.engine->ReplicateMethodCall(remote, Call(4, 3.0f), false);
    m.host.engine->EndFrame(2000000);
    for (int i = 0; i < 10; ++i) m.Step();
    m.client.engine->DispatchReplicatedMethodCalls(true);
    ASSERT_EQ(m.client.delegate.calls.size(), 2u);
    EXPECT_EQ(m.client.delegate.calls[0].methodId, 3);
    EXPECT_EQ(m.client.delegate.calls[0].GetNumberArg(0), 2.0f);
    EXPECT_EQ(m.client.delegate.calls[1].methodId, 4);
    EXPECT_EQ(m.host.engine->GetRemotePlayer(0)->GetReliableMethodSendID(), 0u);
}

TEST(GamePackets, AWriterThatRunsOutOfPacketsLeavesTheRoomToTheNext) {
    Match m;
    ASSERT_TRUE(m.Connect());
    Tap tap(m.host.driver);
    Player* remote = m.host.engine->GetRemotePlayer(0);
    // 1,655 bits each: five fill a packet, the eleventh finds both packets used.
    const std::string big(200, 'x');
    for (int i = 0; i < 12; ++i) {
        MPMethodCall c;
        c.methodId = 1;
        c.AddStringArg(big.c_str(), uint32_t(big.size()));
        m.host.engine->ReplicateMethodCall(remote, c, true);
    }
    m.host.engine->ReplicateMethodCall(remote, Call(2), false);
    m.host.engine->SendChatMessage(0, u"hi");
    m.host.engine->EndFrame(3000000);
    m.host.engine->RunWake();
    ASSERT_EQ(tap.packets.size(), 2u);
    EXPECT_EQ(tap.packets[0].items[SECTION_CALLS] + tap.packets[1].items[SECTION_CALLS], 11) << "ten reliable, one unreliable";
    EXPECT_EQ(tap.packets[1].items[SECTION_TEXTS], 1);
    EXPECT_TRUE(m.host.Peer()->unreliableCalls.empty());
}

TEST(GamePackets, ReliableCallsAreDeliveredInSequenceOnly) {
    Match m;
    ASSERT_TRUE(m.Connect());
    for (uint32_t s : {1u, 2u, 3u}) Inject(m, true, Craft(uint16_t(10 + s), NextFrame(), [&](GamePacket& p) { AddCall(p, s, Call(uint8_t(s))); }));
    Inject(m, true, Craft(20, NextFrame(), [](GamePacket& p) { AddCall(p, 5, Call(5)); }));  // 4 missing: skipped
    Inject(m, true, Craft(21, NextFrame(), [](GamePacket& p) {
        AddCall(p, 4, Call(4));
        AddCall(p, 5, Call(5));
        AddCall(p, 4, Call(4));  // a repeat
    }));
    m.client.engine->DispatchReplicatedMethodCalls(true);
    ASSERT_EQ(m.client.delegate.calls.size(), 5u);
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(m.client.delegate.calls[i].methodId, i + 1);
    EXPECT_EQ(m.client.Peer()->lastReliableReceived, 5u);
}

TEST(GamePackets, AFrameCompletesOnItsLastPacketInEitherOrder) {
    for (bool reversed : {false, true}) {
        Match m;
        ASSERT_TRUE(m.Connect());
        m.client.delegate.events.clear();
        const uint64_t t = NextFrame();
        const auto first = Craft(30, t, nullptr, 0, 0, 0);
        const auto second = Craft(31, t, nullptr, 0, 0, 2);
        Inject(m, true, reversed ? second : first);
        EXPECT_FALSE(m.client.delegate.Has("lobby updated")) << reversed;
        Inject(m, true, reversed ? first : second);
        EXPECT_TRUE(m.client.delegate.Has("lobby updated")) << reversed;
        EXPECT_NE(m.client.engine->GetLatestFrameTime(), 0);
    }
}

TEST(GamePackets, ShortDatagramsAreDumpedAndDropped) {
    CaptureLogSink log;
    log.Attach();
    Match m;
    ASSERT_TRUE(m.Connect());
    std::vector<uint8_t> bytes = Craft(40, NextFrame(), nullptr);
    bytes.resize(25);
    Inject(m, false, bytes);
    EXPECT_TRUE(log.Contains("Invalid packet. dataLen:25 data:05"));
    log.Clear();
    bytes = Craft(41, NextFrame(), nullptr);
    Inject(m, false, bytes);
    EXPECT_FALSE(log.Contains("Invalid packet"));
    EXPECT_TRUE(log.Contains("Recv packet:41 size:26"));
}

TEST(GamePackets, EarlierFrameTimesAreSkipped) {
    CaptureLogSink log;
    log.Attach();
    Match m;
    ASSERT_TRUE(m.Connect());
    const uint64_t t = NextFrame();
    Inject(m, true, Craft(50, t, [](GamePacket& p) { AddCall(p, 0, Call(9)); }));
    Inject(m, true, Craft(51, t - 10000, [](GamePacket& p) { AddCall(p, 0, Call(9)); }));
    EXPECT_TRUE(log.Contains("Skipping packet:51"));
    m.client.engine->DispatchReplicatedMethodCalls(true);
    EXPECT_EQ(m.client.delegate.calls.size(), 1u);
}

// ---------------------------------------------------------------------------------
// Call items at the edge of a packet

bool SameCall(const MPMethodCall& a, const MPMethodCall& b) {
    if (a.methodId != b.methodId || a.argCount != b.argCount || a.dataSize != b.dataSize) return false;
    for (uint32_t i = 0; i < a.argCount; ++i)
        if (a.GetArgType(i) != b.GetArgType(i) || a.args[i].offset != b.args[i].offset) return false;
    return std::memcmp(a.data, b.data, a.dataSize) == 0;
}

// Calls whose items end in each kind of field.
std::vector<MPMethodCall> EdgeCalls() {
    std::vector<MPMethodCall> calls(6);
    calls[0].methodId = 1;  // no arguments
    calls[1].methodId = 2;
    calls[1].AddNilArg();
    calls[1].AddNilArg();
    calls[1].AddNilArg();
    calls[2].methodId = 3;
    calls[2].AddBoolArg(true);
    calls[2].AddNumberArg(-2.5f);
    calls[2].AddEntityArg(4094);
    calls[2].AddVectorArg(Vector(1.0f, 2.0f, 3.0f, 4.0f));
    calls[3].methodId = 4;
    calls[3].AddStringArg("", 0);
    calls[3].AddNilArg();
    calls[4].methodId = 5;
    const std::string longest(MPMethodCall::kMaxStringLength, 'q');
    calls[4].AddStringArg(longest.c_str(), uint32_t(longest.size()));
    calls[5].methodId = 6;
    for (int i = 0; i < 8; ++i) i % 2 ? calls[5].AddEntityArg(uint16_t(i)) : calls[5].AddNilArg();
    return calls;
}

TEST(CallItems, ACallCutAnywhereIsRefusedNotShortened) {
    for (const MPMethodCall& call : EdgeCalls()) {
        SCOPED_TRACE(int(call.methodId));
        static GamePacket p;
        p.Reset();
        AddCall(p, 77, call);
        const uint32_t end = kPacketHeaderBits + p.SectionBits(SECTION_CALLS);
        std::vector<uint8_t> bytes(kMaxPacketBytes + BitWriter::kSlackBytes);
        bytes.resize(p.Build(bytes.data()));
        for (uint32_t cut = kPacketHeaderBits; cut < end; ++cut) {
            BitReader in(bytes.data(), cut, kPacketHeaderBits);
            uint32_t sequence = 0;
            MPMethodCall back;
            ASSERT_FALSE(ReadCallItem(in, sequence, back)) << "cut at bit " << cut - kPacketHeaderBits << " of " << end - kPacketHeaderBits;
        }
        BitReader in(bytes.data(), end, kPacketHeaderBits);
        uint32_t sequence = 0;
        MPMethodCall back;
        ASSERT_TRUE(ReadCallItem(in, sequence, back));
        EXPECT_EQ(sequence, 77u);
        EXPECT_TRUE(SameCall(back, call));
    }
}

TEST(CallItems, WritingACallThatDoesNotFitReportsFailure) {
    // The packet is filled so that room bits are left: every room short of the item
    // fails at whichever field it runs out in, and leaves the overflow flag set.
    for (const MPMethodCall& call : EdgeCalls()) {
        SCOPED_TRACE(int(call.methodId));
        static GamePacket p;
        p.Reset();
        AddCall(p, 1, call);
        const uint32_t bits = p.SectionBits(SECTION_CALLS);
        for (uint32_t room = 0; room <= bits; ++room) {
            p.Reset();
            p.BeginSection(SECTION_TEXTS);
            for (uint32_t fill = kMaxPacketBits - kPacketHeaderBits - room; fill; fill -= fill < 64 ? fill : 64)
                ASSERT_TRUE(p.WriteValue(0, fill < 64 ? fill : 64));
            p.EndSection();
            p.BeginSection(SECTION_CALLS);
            const bool written = WriteCallItem(p, 1, call);
            p.EndSection();
            ASSERT_EQ(written, room == bits) << "room " << room << " of " << bits;
            ASSERT_EQ(p.Overflowed(), room < bits) << "room " << room;
        }
    }
}

// ---------------------------------------------------------------------------------
// Hostile peers

TEST(HostilePeers, Table) {
    struct Row {
        const char* name;
        bool toClient;
        std::function<std::vector<uint8_t>()> packet;
        std::function<void(Match&)> check;
    };
    const uint8_t guid[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const Row rows[] = {
        {"a client's dictionary entries reach nothing on the host", false,
         [&] {
             return Craft(60, NextFrame(), [&](GamePacket& p) {
                 p.BeginSection(SECTION_DICTIONARY);
                 WriteDictionaryItem(p, 7, guid);
                 p.EndSection();
             });
         },
         [](Match& m) {
             for (int i = 0; i < 16; ++i) EXPECT_EQ(m.host.engine->DictionaryEntry(7)[i], 0);
         }},
        {"a host's dictionary entries reach the client", true,
         [&] {
             return Craft(61, NextFrame(), [&](GamePacket& p) {
                 p.BeginSection(SECTION_DICTIONARY);
                 WriteDictionaryItem(p, 7, guid);
                 p.EndSection();
             });
         },
         [&](Match& m) { EXPECT_EQ(0, std::memcmp(m.client.engine->DictionaryEntry(7), guid, 16)); }},
        {"a call with 15 arguments drops the packet", true,
         [] {
             return Craft(62, NextFrame(), [](GamePacket& p) {
                 AddCall(p, 0, Call(1));
                 p.BeginSection(SECTION_CALLS);
                 p.WriteValue(0, 32);
                 p.WriteValue(2, 8);
                 p.WriteValue(15, 4);
                 for (int i = 0; i < 15; ++i) p.WriteValue(0, 3);
                 p.EndSection();
             });
         },
         [](Match& m) {
             m.client.engine->DispatchReplicatedMethodCalls(true);
             EXPECT_TRUE(m.client.delegate.calls.empty()) << "nothing of the packet is applied";
             EXPECT_TRUE(m.client.Peer()->acks.empty()) << "and it is not acknowledged";
         }},
        {"an argument of type 7 drops the packet", true,
         [] {
             return Craft(63, NextFrame(), [](GamePacket& p) {
                 p.BeginSection(SECTION_CALLS);
                 p.WriteValue(0, 32);
                 p.WriteValue(2, 8);
                 p.WriteValue(1, 4);
                 p.WriteValue(7, 3);
                 p.EndSection();
             });
         },
         [](Match& m) { EXPECT_TRUE(m.client.Peer()->acks.empty()); }},
        {"an entity id of 5000 arrives as none", true,
         [] {
             return Craft(64, NextFrame(), [](GamePacket& p) {
                 p.BeginSection(SECTION_CALLS);
                 p.WriteValue(0, 32);
                 p.WriteValue(2, 8);
                 p.WriteValue(1, 4);
                 p.WriteValue(MPARG_ENTITY, 3);
                 p.WriteValue(5000, 16);
                 p.EndSection();
             });
         },
         [](Match& m) {
             m.client.engine->DispatchReplicatedMethodCalls(true);
             ASSERT_EQ(m.client.delegate.calls.size(), 1u);
             EXPECT_EQ(m.client.delegate.calls[0].GetEntityArg(0), kNoMultiplayerId);
         }},
        {"a 255-unit text keeps 127", true,
         [] {
             return Craft(65, NextFrame(), [](GamePacket& p) {
                 std::u16string text(255, u'\u4E2D');
                 p.BeginSection(SECTION_TEXTS);
                 WriteTextItem(p, 1, text.data(), 255);
                 p.EndSection();
             });
         },
         [](Match& m) {
             ASSERT_EQ(m.client.delegate.chat.size(), 1u);
             const std::u16string& line = m.client.delegate.chat[0];
             EXPECT_EQ(line.substr(line.size() - 127), std::u16string(127, u'\u4E2D'));
         }},
        {"a count running past the end drops the packet", true,
         [] {
             auto bytes = Craft(66, NextFrame(), [](GamePacket& p) { AddCall(p, 0, Call(1)); });
             bytes[22] = 2;  // two calls, one present
             return bytes;
         },
         [](Match& m) {
             m.client.engine->DispatchReplicatedMethodCalls(true);
             EXPECT_TRUE(m.client.delegate.calls.empty());
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Match m;
        ASSERT_TRUE(m.Connect());
        Inject(m, r.toClient, r.packet());
        r.check(m);
    }
}

TEST(HostilePeers, AMalformedPacketFromTheFutureDoesNotLockOutLaterPackets) {
    Match m;
    ASSERT_TRUE(m.Connect());
    auto forged = Craft(80, 4000000000ull * 10000, [](GamePacket& p) { AddCall(p, 0, Call(1)); });
    forged[22] = 3;  // three calls announced, one present
    Inject(m, true, forged);
    Inject(m, true, Craft(81, NextFrame(), [](GamePacket& p) { AddCall(p, 0, Call(2)); }));
    m.client.engine->DispatchReplicatedMethodCalls(true);
    ASSERT_EQ(m.client.delegate.calls.size(), 1u);
    EXPECT_EQ(m.client.delegate.calls[0].methodId, 2);
}

TEST(HostilePeers, AnAcknowledgementBeyondWhatWasSentRemovesOnlyWhatWasSent) {
    Match m;
    ASSERT_TRUE(m.Connect());
    Player* remote = m.host.engine->GetRemotePlayer(0);
    for (int i = 0; i < 3; ++i) m.host.engine->ReplicateMethodCall(remote, Call(1), true);
    m.host.engine->RunWake();
    Inject(m, false, Craft(70, NextFrame(), nullptr, 0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_TRUE(m.host.Peer()->reliableCalls.empty());
    EXPECT_EQ(m.host.Peer()->lastReliableAcknowledged, 3u);
    EXPECT_EQ(remote->GetReliableMethodAckID(), 3u);
    m.host.engine->ReplicateMethodCall(remote, Call(1), true);
    m.host.engine->RunWake();
    EXPECT_EQ(m.host.Peer()->reliableCalls.size(), 1u) << "the next call waits for its own acknowledgement";
}

TEST(HostilePeers, APeerThatNeverAcknowledgesIsDroppedAtTheCap) {
    CaptureLogSink log;
    log.Attach();
    Match m;
    ASSERT_TRUE(m.Connect());
    Player* remote = m.host.engine->GetRemotePlayer(0);
    for (uint32_t i = 0; i <= kMaxQueuedReliableCalls; ++i) {
        m.host.engine->ReplicateMethodCall(remote, Call(1), true);
        if (i % 512 == 0) m.host.engine->RunWake();
    }
    m.host.engine->RunWake();
    m.host.engine->UpdateMainThread();
    EXPECT_TRUE(m.host.delegate.Has("player disconnected 11"));
    EXPECT_EQ(m.host.engine->Peers().Count(), 0u);
    EXPECT_TRUE(log.Contains("acknowledges no reliable calls"));
}

TEST(HostilePeers, TextsThatAreNeverAcknowledgedDropThePeer) {
    Match m;
    ASSERT_TRUE(m.Connect());
    for (uint32_t i = 0; i <= kMaxQueuedTexts; ++i) {
        m.host.engine->SendChatMessage(0, u"hi");
        if (i % 256 == 0) m.host.engine->RunWake();
    }
    m.host.engine->RunWake();
    m.host.engine->UpdateMainThread();
    EXPECT_TRUE(m.host.delegate.Has("player disconnected 11"));
}

TEST(HostilePeers, AFloodingHostLeavesTheClientAckListAt256) {
    Match m;
    ASSERT_TRUE(m.Connect());
    for (int i = 0; i < 300; ++i) {
        const auto bytes = Craft(uint16_t(100 + i), NextFrame(), nullptr);
        m.client.driver->Inject(NETFRAME_GAME_PACKET, bytes.data(), uint32_t(bytes.size()));
    }
    m.client.engine->RunWake();
    ASSERT_EQ(m.client.Peer()->acks.size(), kMaxClientAcks);
    EXPECT_EQ(m.client.Peer()->acks.back().packetId, 399);
}

TEST(HostilePeers, PendingCallsOnAClientAreCapped) {
    Match m;
    ASSERT_TRUE(m.Connect());
    m.tickGameClock = false;
    for (int batch = 0; batch < 5; ++batch) {
        for (int i = 0; i < 1000; ++i) {
            const auto bytes = Craft(uint16_t(1 + batch * 1000 + i), NextFrame() + 100000000000ull, [](GamePacket& p) { AddCall(p, 0, Call(1)); });
            m.client.driver->Inject(NETFRAME_GAME_PACKET, bytes.data(), uint32_t(bytes.size()));
        }
        m.client.engine->RunWake();
        m.client.engine->UpdateMainThread();
    }
    EXPECT_EQ(m.client.engine->PendingCallCount(), kMaxPendingCalls);
}

// ---------------------------------------------------------------------------------
// Reliability over a lossy, delayed, partitioned link

TEST(GamePackets, ReliableCallsAndTextsArriveOnceAndInOrderOverABadLink) {
    Match m;
    ASSERT_TRUE(m.Connect());
    LoopbackConditions bad;
    bad.loss = 0.10;
    bad.delayUs = 40000;
    bad.jitterUs = 30000;
    m.link.SetConditions(0, bad);
    m.link.SetConditions(1, bad);
    const int64_t nowUs = m.clock.Now() / 10;
    // Each way cut for 6 s while the calls are still being made.
    m.link.SetPartition(0, nowUs + 5000000, nowUs + 11000000);
    m.link.SetPartition(1, nowUs + 14000000, nowUs + 20000000);

    constexpr int kCalls = 500, kTexts = 200;
    Player* toClient = m.host.engine->GetRemotePlayer(0);
    Player* toHost = m.client.engine->GetLocalPlayer();
    int passes = 0;
    for (int step = 0; passes < 10000; ++step) {
        if (step < kCalls) {
            MPMethodCall c;
            c.methodId = 1;
            c.AddNumberArg(float(step));
            m.host.engine->ReplicateMethodCall(toClient, c, true);
            c.methodId = 2;
            m.client.engine->ReplicateMethodCall(toHost, c, true);
        }
        if (step < kTexts) {
            const std::u16string text = u"t" + std::u16string(1, char16_t(u'A' + step % 26)) + char16_t(0x100 + step);
            m.host.engine->SendChatMessage(0, text.c_str());
            m.client.engine->SendChatMessage(0, text.c_str());
        }
        m.Step(50000);
        m.client.engine->DispatchReplicatedMethodCalls(true);
        passes = int(m.host.Peer()->passCounter);
        if (step > kCalls && m.host.Peer()->reliableCalls.empty() && m.host.Peer()->texts.empty() && m.client.Peer()->reliableCalls.empty() &&
            m.client.Peer()->texts.empty() && m.client.delegate.calls.size() == size_t(kCalls) &&
            m.host.delegate.calls.size() == size_t(kCalls))
            break;
    }
    ASSERT_LT(passes, 10000) << "everything acknowledged within 10,000 passes";
    EXPECT_GT(passes, 100) << "the partitions were in force while items were outstanding";
    for (nettest::Side* side : {&m.host, &m.client}) {
        ASSERT_EQ(side->delegate.calls.size(), size_t(kCalls));
        for (int i = 0; i < kCalls; ++i) EXPECT_EQ(side->delegate.calls[i].GetNumberArg(0), float(i)) << i;
        std::vector<std::u16string> remoteLines;
        size_t chatIndex = 0;
        for (const std::string& e : side->delegate.events) {
            if (e.rfind("chat", 0) != 0) continue;
            if (e == "chat 0 1") remoteLines.push_back(side->delegate.chat[chatIndex]);
            ++chatIndex;
        }
        ASSERT_EQ(remoteLines.size(), size_t(kTexts));
        for (int i = 0; i < kTexts; ++i) {
            const std::u16string text = u"t" + std::u16string(1, char16_t(u'A' + i % 26)) + char16_t(0x100 + i);
            EXPECT_EQ(remoteLines[i].substr(remoteLines[i].size() - 3), text) << i;
        }
    }
    EXPECT_EQ(m.host.engine->GetRemotePlayer(0)->GetReliableMethodAckID(), uint32_t(kCalls));
    EXPECT_EQ(m.host.engine->GetRemotePlayer(0)->GetReliableMethodSendID(), uint32_t(kCalls));
}

}  // namespace
