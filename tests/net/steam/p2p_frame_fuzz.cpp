// Peer-to-peer frames from a hostile peer or a stranger. Two drivers meet once in a
// lobby of an in-process broker; each input then puts the host in listening and the
// client in connecting state and feeds a short sequence (up to 16) of records {u8
// flags, u16 length, the bytes}: flags bit 0 picks the receiving driver (host, client),
// bits 1-2 the sender (0 the other player, 1 a stranger, 2 the receiver itself), bit 3
// answers a waiting request (bit 4: yes). Both drivers tick between records. Afterwards
// every slot holds a state of its table and a ticket within its buffer.
// test-link: broker_server
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ProgramStaticInit.h"
#include "SteamDriverPair.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "p2p_frame_fuzz: %s\n", what);
    std::abort();
}

struct World : steamtest::LobbyWorld {
    steamtest::Player& host = owner;
    steamtest::Player& client = guest;
    online::OnlineId stranger = online::MakeUserId(3);
};
World* gWorld = nullptr;

bool Setup() {
    gWorld = new World;
    World& w = *gWorld;
    if (!w.Meet("H", "C")) return false;
    w.host.driver->LobbySetReady(true);
    w.client.driver->LobbySetReady(true);
    return w.Until([&] { return w.client.driver->GetDriverState() == Network::IN_LOBBY_STARTING_GAME; }) &&
           w.client.driver->GameServerId() == w.host.Id();
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    // One well-formed frame of each type, to the host and to the client, from the peer.
    for (uint8_t type = 1; type <= 6; ++type)
        for (uint8_t target = 0; target < 2; ++target) {
            std::vector<uint8_t> in = {uint8_t(target | 0x18), 0, 0, type};
            if (type == 1 || type == 3) {
                const uint8_t ticket[] = {8, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
                in.insert(in.end(), ticket, ticket + sizeof ticket);
            } else if (type >= 5) {
                in.resize(in.size() + 13, 0x5A);
            }
            const uint16_t n = uint16_t(in.size() - 3);
            std::memcpy(in.data() + 1, &n, 2);
            add(in.data(), in.size());
        }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    Check(Setup(), "the drivers did not meet");
    std::atexit([] { delete gWorld; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = *gWorld;
    Network::SteamNetDriver& host = *w.host.driver;
    Network::SteamNetDriver& client = *w.client.driver;
    host.Listen(0);
    client.Connect("", 0, 0);
    size_t at = 0;
    for (int record = 0; record < 16 && at + 3 <= size; ++record) {
        const uint8_t flags = data[at];
        uint16_t length;
        std::memcpy(&length, data + at + 1, 2);
        at += 3;
        if (length > size - at) length = uint16_t(size - at);
        steamtest::Player& to = (flags & 1) ? w.client : w.host;
        steamtest::Player& other = (flags & 1) ? w.host : w.client;
        const uint32_t who = (flags >> 1) & 3;
        const online::OnlineId from = who == 0 ? other.Id() : who == 1 ? w.stranger : to.Id();
        to.driver->HandleFrame(from, data + at, length);
        at += length;
        if ((flags & 8) && host.Peer(1).state == Network::DriverPeer::REQUEST_RECEIVED) host.AnswerPeer(1, (flags & 16) != 0);
        w.Pump(1);
    }
    for (Network::SteamNetDriver* d : {&host, &client}) {
        Check(d->GetDriverState() < Network::DRIVER_STATE_COUNT, "a state outside the table");
        for (uint32_t s = 0; s < 2; ++s) {
            Check(d->Peer(s).state <= Network::DriverPeer::CONNECTED, "a slot state outside the table");
            Check(d->Peer(s).ticketLength <= Network::kTicketBytes, "a ticket longer than its buffer");
        }
        Check(d->Peer(0).state == Network::DriverPeer::FREE || d->Peer(0).steamId == (d == &host ? w.host.Id() : w.client.Id()),
              "the local slot changed hands");
    }
    host.DisconnectPeer(1, 0);
    client.DisconnectPeer(1, 0);
    return 0;
}
