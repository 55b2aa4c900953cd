// The online driver's peer-to-peer layer between two drivers that met in a lobby: the
// ticket handshake, refusals, validation failures, the silence watch on the manual
// clock, the client's retries, and frames from strangers or at the wrong time.
// test-sanitize: thread address
// test-link: broker_server
#include "SteamDriverPair.h"

#include <cstring>

#include "../NetTestSupport.h"
#include "CaptureLogSink.h"
#include "net/base/NetConstants.h"

namespace {

using namespace steamtest;
using Network::DriverPeer;

class P2P : public DriverPair {
protected:
    void Ready() {
        MeetInLobby();
        StartGame();
        ASSERT_EQ(b.D().GameServerId(), a.Id());
    }
    void Active() {
        Ready();
        Connect(true);
        ASSERT_TRUE(StepUntil([&] {
            return a.D().GetDriverState() == Network::GAME_ACTIVE && b.D().GetDriverState() == Network::GAME_ACTIVE &&
                   a.D().Peer(1).authorised && b.D().Peer(1).authorised;
        }));
    }
    // A raw frame from a context to an account, unreliable.
    static void Raw(online::OnlineContext* from, online::OnlineId to, std::vector<uint8_t> bytes, int32_t type = online::kSendUnreliableNoDelay) {
        from->Networking()->SendP2PPacket(to, bytes.data(), static_cast<uint32_t>(bytes.size()), type, 0);
    }
    // Sets the clock to a peer's last receive time plus the given milliseconds and ticks a.
    void SilenceOnHost(int64_t ms) {
        clock.Set(a.D().Peer(1).lastReceive + ms * (os::kCounterFrequency / 1000));
        a.D().Tick();
    }
};

class TicketFailure : public P2P {
    void Adjust(online::ClientConfig& c, int account) override {
        if (account == 1) c.ticketFailure = online::kAuthTicketInvalid;
    }
};

class LoggedOff : public P2P {
    void Adjust(online::ClientConfig& c, int account) override {
        if (account == 1) c.loggedOn = false;
    }
};

TEST_F(P2P, HandshakeWithTicketsThenGameAndTimeSyncFrames) {
    Active();
    EXPECT_EQ(a.rec.events.back(), "peer connected 1");
    EXPECT_TRUE(a.rec.Has("listening"));
    EXPECT_TRUE(b.rec.Has("connecting to host"));
    EXPECT_TRUE(b.rec.Has("peer connected 1"));
    EXPECT_EQ(a.D().Peer(1).steamId, b.Id());
    EXPECT_EQ(b.D().Peer(0).steamId, b.Id());

    // Kind 0 becomes type 5, kind 1 type 6; the frame arrives whole.
    uint8_t packet[40] = {0xEE, 1, 2, 3};
    b.D().SendGamePacket(1, packet, sizeof packet, 0);
    ASSERT_TRUE(StepUntil([&] { return a.rec.Has("receive 1 0"); }));
    ASSERT_EQ(a.rec.received.back().size(), sizeof packet);
    EXPECT_EQ(a.rec.received.back()[0], 5);
    EXPECT_EQ(std::memcmp(a.rec.received.back().data() + 1, packet + 1, sizeof packet - 1), 0);
    uint8_t sync[14] = {0xEE, 9};
    a.D().SendGamePacket(1, sync, sizeof sync, 1);
    ASSERT_TRUE(StepUntil([&] { return b.rec.Has("receive 1 1"); }));
    EXPECT_EQ(b.rec.received.back()[0], 6);

    // The client leaves: the host hears a disconnect frame (reason 8).
    b.D().Disconnect();
    EXPECT_EQ(b.D().GetDriverState(), uint32_t(Network::IDLE));
    ASSERT_TRUE(StepUntil([&] { return a.rec.Has("peer disconnected 1 8"); }));
    EXPECT_EQ(a.D().GetDriverState(), uint32_t(Network::IDLE));
    EXPECT_TRUE(b.rec.Has("peer disconnected 1 0"));
}

TEST_F(P2P, RefusedClientIsToldAndTheHostSlotStaysFree) {
    Ready();
    Connect(false);
    ASSERT_TRUE(StepUntil([&] { return b.rec.Has("peer disconnected 1 6"); }));
    EXPECT_EQ(b.D().GetDriverState(), uint32_t(Network::IDLE));
    Settle();
    // The refused client sent nothing back that would take the slot again.
    EXPECT_EQ(a.D().Peer(1).state, uint32_t(DriverPeer::FREE));
    EXPECT_EQ(a.D().GetDriverState(), uint32_t(Network::GAME_CONNECTING));
}

TEST_F(P2P, APeerDroppedWhileItsRequestWaitsGetsARefusal) {
    Ready();
    ASSERT_EQ(a.D().Listen(0), 0u);
    ASSERT_EQ(b.D().Connect("", 0, 0), 0u);
    ASSERT_TRUE(StepUntil([&] { return a.rec.Has("peer connecting 1"); }));
    // Game and time-sync frames while connecting: ignored, yet the peer is heard.
    clock.Advance(50 * os::kCounterFrequency);
    Raw(b.ctx.get(), a.Id(), {5, 1, 2, 3});
    ASSERT_TRUE(StepUntil([&] { return a.D().Peer(1).lastReceive >= clock.Now() - os::kCounterFrequency; }));
    EXPECT_FALSE(a.rec.Has("receive 1 0"));
    a.D().DisconnectPeer(1, NETERROR_OK);
    EXPECT_TRUE(a.rec.Has("peer disconnected 1 0"));
    ASSERT_TRUE(StepUntil([&] { return b.rec.Has("peer disconnected 1 6"); }));
    EXPECT_EQ(b.D().GetDriverState(), uint32_t(Network::IDLE));
}

TEST_F(TicketFailure, AFailedValidationDropsThePeer) {
    Ready();
    Connect(true);
    ASSERT_TRUE(StepUntil([&] { return a.rec.Has("peer disconnected 1 7"); }));
    ASSERT_TRUE(StepUntil([&] { return b.rec.Has("peer disconnected 1 8"); }));
    EXPECT_EQ(a.D().Peer(1).state, uint32_t(DriverPeer::FREE));
}

// Silence on the host's link, exactly at the thresholds.
TEST_F(P2P, SilenceStallsResumesAndDropsAtItsThresholds) {
    Active();
    a.rec.events.clear();
    SilenceOnHost(5000);
    EXPECT_TRUE(a.rec.events.empty());
    SilenceOnHost(5001);
    EXPECT_EQ(a.rec.events, std::vector<std::string>{"stall 1"});
    uint8_t packet[8] = {};
    b.D().SendGamePacket(1, packet, sizeof packet, 0);
    ASSERT_TRUE(StepUntil([&] { return a.rec.Has("resume 1"); }));
    a.rec.events.clear();
    SilenceOnHost(30000);
    EXPECT_EQ(a.rec.events, std::vector<std::string>{"stall 1"});
    SilenceOnHost(30001);
    EXPECT_EQ(a.rec.events.back(), "peer disconnected 1 4");
    ASSERT_TRUE(StepUntil([&] { return b.rec.Has("peer disconnected 1 8"); }));
}

TEST_F(LoggedOff, ADropWhileLoggedOffSaysSo) {
    Active();
    SilenceOnHost(30001);
    EXPECT_EQ(a.rec.events.back(), "peer disconnected 1 5");
}

TEST_F(P2P, AnUnansweredClientRetriesFiveTimesASecond) {
    Ready();
    CaptureLogSink log;
    log.Attach();
    ASSERT_EQ(b.D().Connect("", 0, 0), 0u);
    for (int ms = 0; ms < 10000; ++ms) {
        clock.Advance(os::kCounterFrequency / 1000);
        b.D().Tick();
    }
    size_t retries = 0;
    for (const auto& m : log.Messages()) retries += m.text == "Conn req retry";
    EXPECT_GE(retries + 1, 49u);
    EXPECT_LE(retries + 1, 51u);
}

// A client that connects again, straight from a stalled session, to a host that listens
// again, starts with a fresh host peer: no authorisation, ticket or silence watch carries
// over, and the new session is validated.
TEST_F(P2P, AReconnectForgetsThePreviousSessionsPeer) {
    Active();
    clock.Set(b.D().Peer(1).lastReceive + 5001 * (os::kCounterFrequency / 1000));
    b.D().Tick();
    ASSERT_TRUE(b.rec.Has("stall 1"));
    ASSERT_EQ(a.D().Listen(0), 0u);
    b.rec.events.clear();
    ASSERT_EQ(b.D().Connect("", 0, 0), 0u);
    const DriverPeer& host = b.D().Peer(1);
    EXPECT_EQ(host.state, uint32_t(DriverPeer::REQUESTED));
    EXPECT_EQ(host.authorised, 0) << "the new session's ticket is still to be validated";
    EXPECT_EQ(host.stalled, 0);
    EXPECT_EQ(host.ticketLength, 0u);
    EXPECT_EQ(host.lastReceive, Network::kNoTime);
    ASSERT_TRUE(StepUntil([&] { return a.rec.CountOf("peer connecting 1") == 2; }));
    a.D().AnswerPeer(1, true);
    ASSERT_TRUE(StepUntil([&] { return b.D().GetDriverState() == Network::GAME_ACTIVE; }));
    EXPECT_FALSE(b.rec.Has("resume 1")) << "the new session never stalled";
    // Neither side's earlier session outlives it: each validates the other's new ticket.
    EXPECT_TRUE(StepUntil([&] { return a.D().Peer(1).authorised && b.D().Peer(1).authorised; }));
}

TEST_F(P2P, StrangersAndMalformedTicketsReachNothing) {
    Active();
    std::unique_ptr<online::OnlineContext> mallory = broker->CreateClient(onlinetest::Config(3, "Mallory"));
    ASSERT_TRUE(mallory);
    a.rec.events.clear();
    b.rec.events.clear();
    for (uint8_t type = 1; type <= 6; ++type) {
        Raw(mallory.get(), a.Id(), {type, 0, 0, 0, 0, 7});
        Raw(mallory.get(), b.Id(), {type, 0, 0, 0, 0, 7});
    }
    Settle(100);
    EXPECT_TRUE(a.rec.events.empty());
    EXPECT_TRUE(b.rec.events.empty());
    uint32_t size = 0;
    EXPECT_FALSE(mallory->Networking()->IsP2PPacketAvailable(&size, 0));
    EXPECT_EQ(a.D().Peer(1).steamId, b.Id());
}

TEST_F(P2P, ASecondClientAsksAFullHostAndHearsNothing) {
    Ready();
    ASSERT_EQ(a.D().Listen(0), 0u);
    std::unique_ptr<online::OnlineContext> mallory = broker->CreateClient(onlinetest::Config(3, "Mallory"));
    ASSERT_TRUE(mallory);
    // A malformed request (ticket longer than the frame) takes the free slot as a
    // session but asks nothing.
    Raw(mallory.get(), a.Id(), {1, 200, 0, 0, 0, 1, 2});
    ASSERT_TRUE(StepUntil([&] { return a.D().Peer(1).steamId == mallory->User()->GetSteamID(); }));
    Settle(30);
    EXPECT_FALSE(a.rec.Has("peer connecting 1"));
    EXPECT_EQ(a.D().Peer(1).state, uint32_t(DriverPeer::REQUESTED));
    // The well-formed request of the player who holds the slot is asked about; the
    // lobby's client, arriving second, is ignored.
    Raw(mallory.get(), a.Id(), {1, 0, 0, 0, 0});
    ASSERT_TRUE(StepUntil([&] { return a.rec.Has("peer connecting 1"); }));
    ASSERT_EQ(b.D().Connect("", 0, 0), 0u);
    Settle(100);
    EXPECT_EQ(a.D().Peer(1).steamId, mallory->User()->GetSteamID());
    EXPECT_EQ(b.D().GetDriverState(), uint32_t(Network::GAME_CONNECTING));
    EXPECT_FALSE(b.rec.Has("peer connected 1"));
    EXPECT_FALSE(b.rec.Has("peer disconnected 1 6"));
}

// A stranger's stray and malformed frames at a listening host neither reach the game
// nor keep the host's slot from the lobby's client.
TEST_F(P2P, AStrangerCannotSquatTheListeningHostsSlot) {
    Ready();
    ASSERT_EQ(a.D().Listen(0), 0u);
    std::unique_ptr<online::OnlineContext> mallory = broker->CreateClient(onlinetest::Config(3, "Mallory"));
    ASSERT_TRUE(mallory);
    for (uint8_t type = 2; type <= 6; ++type) Raw(mallory.get(), a.Id(), {type, 9, 9, 9, 9, 9});
    Raw(mallory.get(), a.Id(), {1, 0xFF, 0, 0, 0, 1});  // a request whose ticket overruns the frame
    Settle(100);
    EXPECT_FALSE(a.rec.Has("peer connecting 1"));
    EXPECT_EQ(a.D().GetDriverState(), uint32_t(Network::GAME_CONNECTING));
    ASSERT_EQ(b.D().Connect("", 0, 0), 0u);
    ASSERT_TRUE(StepUntil([&] { return a.rec.Has("peer connecting 1"); }));
    EXPECT_EQ(a.D().Peer(1).steamId, b.Id());
    a.D().AnswerPeer(1, true);
    ASSERT_TRUE(StepUntil([&] { return b.D().GetDriverState() == Network::GAME_ACTIVE; }));
}

// The driver's frames, read raw from the receiving context, equal those of the
// independent writer.
TEST_F(P2P, FramesEqualTheIndependentWriter) {
    Ready();
    auto raw = [&](online::OnlineContext* ctx) {
        std::vector<uint8_t> bytes(1200);
        uint32_t size = 0;
        online::OnlineId from = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            if (ctx->Networking()->IsP2PPacketAvailable(&size, 0) && ctx->Networking()->ReadP2PPacket(bytes.data(), 1200, &size, &from, 0)) {
                bytes.resize(size);
                return bytes;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return std::vector<uint8_t>();
    };
    auto expect = [&](const std::vector<uint8_t>& got, const std::string& args) {
        const std::vector<std::string> lines = nettest::RunNetbits("p2p " + args);
        ASSERT_EQ(lines.size(), 1u) << args;
        EXPECT_EQ(nettest::ToHex(got.data(), got.size()), lines[0]) << args;
    };
    ASSERT_EQ(a.D().Listen(0), 0u);
    a.ctx->Networking()->AcceptP2PSessionWithUser(b.Id());
    b.ctx->Networking()->AcceptP2PSessionWithUser(a.Id());
    ASSERT_EQ(b.D().Connect("", 0, 0), 0u);
    const std::vector<uint8_t> request = raw(a.ctx.get());
    ASSERT_GE(request.size(), 5u);
    expect(request, "1 " + nettest::ToHex(request.data() + 5, request.size() - 5));
    a.D().HandleFrame(b.Id(), request.data(), static_cast<uint32_t>(request.size()));
    a.D().AnswerPeer(1, false);
    expect(raw(b.ctx.get()), "2");
    a.D().HandleFrame(b.Id(), request.data(), static_cast<uint32_t>(request.size()));
    a.D().AnswerPeer(1, true);
    const std::vector<uint8_t> yes = raw(b.ctx.get());
    ASSERT_GE(yes.size(), 5u);
    expect(yes, "3 " + nettest::ToHex(yes.data() + 5, yes.size() - 5));
    uint8_t packet[30] = {0, 1, 2, 3, 4, 5, 6, 7};
    a.D().SendGamePacket(1, packet, sizeof packet, 0);
    expect(raw(b.ctx.get()), "5 " + nettest::ToHex(packet, sizeof packet));
    const uint8_t sync[14] = {0, 0x10, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 1};
    a.D().SendGamePacket(1, sync, sizeof sync, 1);
    expect(raw(b.ctx.get()), "6 16 9 1");
    a.D().DisconnectPeer(1, 0);
    expect(raw(b.ctx.get()), "4");
}

}  // namespace
