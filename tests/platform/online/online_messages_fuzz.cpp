// Fuzz target for the online message readers: the broker's request reader (first
// input byte even) and the client's reader of broker messages (first byte odd).
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineClientCore.h"
#include "platform/online/OnlineWire.h"

#include <cstdint>
#include <memory>
#include <vector>

using namespace online;
using namespace online::wire;

namespace {

struct NullOutput : BrokerOutput {
    void Deliver(uint32_t, const SharedFrame&, OnlineId) override {}
};

struct State {
    NullOutput output;
    BrokerCore broker{&output};
    uint32_t session = 0;
    ClientCore client{ClientConfig{}};
    int handled = 0;

    State() {
        StatsSchema schema;
        schema.Parse("stat A int\nstat B float\nachievement X\n", 36, nullptr);
        broker.Open("", schema, nullptr);
        NewSession();
        client.connected = true;
    }
    void NewSession() {
        if (session) broker.RemoveSession(session);
        session = broker.AddSession();
        Writer hello(kHello, 1);
        hello.U32(7).Text("Fuzz").U32(1).Text("english");
        const auto& f = hello.Frame();
        broker.Handle(session, f.data() + 4, f.size() - 4);
    }
};

State& Get() {
    static State* state = new State();
    return *state;
}

void AddFrame(void (*add)(const uint8_t*, size_t), uint8_t target, Writer& w) {
    const auto& f = w.Frame();
    std::vector<uint8_t> in{target};
    in.insert(in.end(), f.begin() + 4, f.end());
    add(in.data(), in.size());
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    Writer create(kCreateLobby);
    create.U64(1).I32(3).I32(2);
    AddFrame(add, 0, create);
    Writer data(kSetLobbyData);
    data.U64(MakeLobbyId(1)).Text("k").Text("v");
    AddFrame(add, 0, data);
    Writer list(kLobbyList);
    list.U64(2).U32(1).Text("k").Text("v").I32(0).U32(1).Text("n").I32(5).I32(2).U32(1).Text("n").I32(3).I32(10);
    AddFrame(add, 0, list);
    Writer send(kP2PSend);
    send.U64(MakeUserId(7)).U8(1).I32(0).Bytes("abc", 3);
    AddFrame(add, 0, send);
    Writer store(kStoreStats, 3);
    store.U32(1).Text("A").U8(0).U32(5).U32(1).Text("X").U8(1);
    AddFrame(add, 0, store);
    Writer upload(kUploadScore);
    upload.U64(4).U64(1).I32(1).I32(10).U32(2).I32(1).I32(2);
    AddFrame(add, 0, upload);
    Writer file(kFileWrite, 5);
    file.Text("progress").Bytes("data", 4);
    AddFrame(add, 0, file);
    Writer control(kControl, 6);
    control.Text("seed").Text("user 3 Name\nleaderboard M01 descending\nscore M01 3 10 1 2\n");
    AddFrame(add, 0, control);

    Writer snap(kLobbyState);
    snap.U64(MakeLobbyId(1)).I32(1).I32(2).U8(1).U64(MakeUserId(1)).U32(1).Text("k").Text("v");
    snap.U32(1).U64(MakeUserId(1)).Text("P").U32(1).Text("ready").Text("1");
    AddFrame(add, 1, snap);
    Writer entries(kEntries);
    entries.U64(1).U64(1).I32(1).U32(1).U64(MakeUserId(2)).Text("Q").I32(1).I32(5).U32(1).I32(9);
    AddFrame(add, 1, entries);
    Writer event(kEvent);
    LobbyCreated created{kResultOK, MakeLobbyId(1)};
    event.I32(LobbyCreated::kCallbackId).U64(1).Bytes(&created, sizeof created);
    AddFrame(add, 1, event);
    Writer packet(kP2PPacket);
    packet.U64(MakeUserId(2)).U8(0).I32(0).Bytes("xy", 2);
    AddFrame(add, 1, packet);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size - 1 > kMaxFrame) return 0;
    State& s = Get();
    if ((data[0] & 1) == 0) {
        if (!s.broker.Handle(s.session, data + 1, size - 1)) s.NewSession();
    } else {
        s.client.OnFrame(data + 1, size - 1);
        s.client.RunCallbacks();
    }
    return 0;
}
