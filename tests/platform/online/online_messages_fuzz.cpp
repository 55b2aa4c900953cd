// Fuzz target for the online message readers.
//
// First input byte even: a short conversation with a fresh broker core, where two
// signed-in sessions send up to four messages (faults that need a lobby, its data and
// a query in a row show only in a sequence). Each message is one byte whose lowest bit
// picks the session, a u16 body length, and the body. Every answer must fit one frame.
// First byte odd: the rest is one broker message to a client.
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineClientCore.h"
#include "platform/online/OnlineWire.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

using namespace online;
using namespace online::wire;

namespace {

constexpr int kMaxMessages = 4;

struct CheckedOutput : BrokerOutput {
    void Deliver(uint32_t, const SharedFrame& frame, OnlineId) override {
        if (frame->size() > kMaxFrame + 4u) std::abort();
    }
};

const StatsSchema& Schema() {
    static const StatsSchema* schema = [] {
        auto* s = new StatsSchema();
        s->Parse("stat A int\nstat B float\nachievement X\n", 36, nullptr);
        return s;
    }();
    return *schema;
}

void Converse(const uint8_t* data, size_t size) {
    CheckedOutput output;
    BrokerCore broker(&output);
    if (!broker.Open("", Schema(), nullptr)) return;
    uint32_t sessions[2];
    for (uint32_t i = 0; i < 2; ++i) {
        sessions[i] = broker.AddSession();
        Writer hello(kHello, 1);
        hello.U32(7 + i).Text("Fuzz").U32(1).Text("english");
        broker.Handle(sessions[i], hello.Frame().data() + 4, hello.Frame().size() - 4);
    }
    for (int m = 0; m < kMaxMessages && size >= 3; ++m) {
        const uint32_t session = sessions[data[0] & 1];
        const size_t n = std::min<size_t>(size - 3, data[1] | (data[2] << 8));
        if (!broker.Handle(session, data + 3, n)) broker.RemoveSession(session);
        data += 3 + n;
        size -= 3 + n;
    }
}

// A conversation input from writers: {session, message}.
std::vector<uint8_t> Conversation(std::initializer_list<std::pair<uint8_t, Writer*>> messages) {
    std::vector<uint8_t> in{0};
    for (auto& [session, w] : messages) {
        const std::vector<uint8_t>& f = w->Frame();
        const size_t n = f.size() - 4;
        in.insert(in.end(), {session, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
        in.insert(in.end(), f.begin() + 4, f.end());
    }
    return in;
}

Writer Make(Kind kind, const std::function<void(Writer&)>& fill) {
    Writer w(kind);
    fill(w);
    return w;
}
Writer Make(Kind kind, uint32_t sequence, const std::function<void(Writer&)>& fill) {
    Writer w(kind, sequence);
    fill(w);
    return w;
}

void AddClientFrame(void (*add)(const uint8_t*, size_t), Writer w) {
    std::vector<uint8_t> in{1};
    in.insert(in.end(), w.Frame().begin() + 4, w.Frame().end());
    add(in.data(), in.size());
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    auto seed = [&](std::initializer_list<std::pair<uint8_t, Writer*>> messages) {
        const std::vector<uint8_t> in = Conversation(messages);
        add(in.data(), in.size());
    };
    const OnlineId lobby = MakeLobbyId(1);
    Writer create = Make(kCreateLobby, [&](Writer& w) { w.U64(1).I32(kLobbyPublic).I32(2); });
    Writer join = Make(kJoinLobby, [&](Writer& w) { w.U64(2).U64(lobby); });
    // Lobby data at the ends of the number range, then lists that compare and sort by it.
    for (const char* v : {"9223372036854775807", "-9223372036854775808", "12", "x"}) {
        Writer data = Make(kSetLobbyData, [&](Writer& w) { w.U64(lobby).Text("n").Text(v); });
        Writer near = Make(kLobbyList, [&](Writer& w) { w.U64(3).U32(0).U32(0).U32(1).Text("n").I32(1).I32(0); });
        Writer numeric = Make(kLobbyList, [&](Writer& w) { w.U64(4).U32(1).Text("n").Text(v).I32(kCompareEqual).U32(1).Text("n").I32(-1).I32(kCompareGreater).U32(0).I32(5); });
        seed({{0, &create}, {0, &data}, {1, &near}});
        seed({{0, &create}, {0, &data}, {1, &numeric}});
    }
    Writer member = Make(kSetMemberData, [&](Writer& w) { w.U64(lobby).Text("ready").Text("1"); });
    Writer chat = Make(kChat, [&](Writer& w) { w.U64(lobby).Bytes("hi", 2); });
    Writer owner = Make(kSetOwner, [&](Writer& w) { w.U64(lobby).U64(MakeUserId(8)); });
    seed({{0, &create}, {1, &join}, {1, &member}, {0, &owner}});
    seed({{0, &create}, {1, &join}, {1, &chat}, {0, &chat}});
    Writer send = Make(kP2PSend, [&](Writer& w) { w.U64(MakeUserId(8)).U8(1).I32(0).Bytes("abc", 3); });
    Writer ticket(kGetTicket, 2);
    Writer validate = Make(kValidateTicket, [&](Writer& w) { w.U64(MakeUserId(7)).U32(0).Bytes("OTK1", 4); });
    seed({{0, &send}, {0, &ticket}, {1, &validate}});
    Writer store = Make(kStoreStats, 3, [&](Writer& w) { w.U32(2).Text("A").U8(0).U32(5).Text("B").U8(1).U32(0x3F800000).U32(1).Text("X").U8(1); });
    Writer stats(kGetStats, 4);
    seed({{0, &store}, {0, &stats}});
    Writer find = Make(kFindLeaderboard, [&](Writer& w) { w.U64(5).Text("M01"); });
    Writer upload = Make(kUploadScore, [&](Writer& w) { w.U64(6).U64(1).I32(kUploadKeepBest).I32(10).U32(2).I32(1).I32(2); });
    Writer download = Make(kDownloadEntries, [&](Writer& w) { w.U64(7).U64(1).I32(kLeaderboardAroundUser).I32(-2).I32(2); });
    seed({{0, &find}, {0, &upload}, {1, &upload}, {1, &download}});
    Writer file = Make(kFileWrite, 5, [&](Writer& w) { w.Text("progress").Bytes("data", 4); });
    Writer read = Make(kFileRead, 6, [&](Writer& w) { w.Text("progress"); });
    seed({{0, &file}, {0, &read}});

    Writer snap(kLobbyState);
    snap.U64(lobby).I32(1).I32(2).U8(1).U64(MakeUserId(1)).U32(1).Text("k").Text("v");
    snap.U32(1).U64(MakeUserId(1)).Text("P").U32(1).Text("ready").Text("1");
    AddClientFrame(add, snap);
    AddClientFrame(add, Make(kEntries, [&](Writer& w) { w.U64(1).U64(1).I32(1).U32(1).U64(MakeUserId(2)).Text("Q").I32(1).I32(5).U32(1).I32(9); }));
    const LobbyCreated created{kResultOK, lobby};
    AddClientFrame(add, Make(kEvent, [&](Writer& w) { w.I32(LobbyCreated::kCallbackId).U64(1).Bytes(&created, sizeof created); }));
    AddClientFrame(add, Make(kP2PPacket, [&](Writer& w) { w.U64(MakeUserId(2)).U8(0).I32(0).Bytes("xy", 2); }));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size - 1 > kMaxFrame) return 0;
    if ((data[0] & 1) == 0) {
        Converse(data + 1, size - 1);
        return 0;
    }
    static ClientCore* client = [] {
        auto* c = new ClientCore(ClientConfig{});
        c->connected = true;
        return c;
    }();
    client->OnFrame(data + 1, size - 1);
    client->RunCallbacks();
    return 0;
}
