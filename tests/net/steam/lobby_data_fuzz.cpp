// Lobby and member data, chat entries, persona names, routed events and the two
// auto-match files from hostile sources. Two drivers share a lobby of an in-process
// broker; each input is a short sequence (up to 16) of records {u8 op, u8 key, u8
// length, the bytes}: op 0 the owner writes lobby data, 1 the guest writes member data
// (key picks one of the lobby keys, the bytes are the value up to a 0), 2 the guest
// sends the bytes as a chat entry, 3 the owner's driver runs a routed event (key picks
// the kind, the bytes are its fields), 4 the bytes become a persona name, 5 and 6 the
// bytes become the auto-match id or group file. Both drivers run between records.
// test-link: broker_server
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

#include "ProgramStaticInit.h"
#include "SteamDriverPair.h"
#include "net/steam/LobbyKeys.h"
#include "net/steam/SteamNetDriver_Local.h"

namespace {

namespace lk = Network::lobbykey;

const char* const kKeys[] = {lk::kGameStarting, lk::kSquadSkill,   lk::kTowersSkill,    lk::kRankedSquadSkill,   lk::kRankedTowersSkill,
                             lk::kGrade,        lk::kRanked,       lk::kMap,            "mapComb1010",           lk::kMapMask,
                             lk::kMinSquadSkill, lk::kMaxSquadSkill, lk::kMinTowersSkill, lk::kMaxTowersSkill,    lk::kTeam,
                             lk::kTeamFilter,   lk::kReady,        lk::kAutoMatchId,    lk::kAutoMatchBotFilter, lk::kOwnerId,
                             lk::kServerId};
static_assert(sizeof kKeys / sizeof kKeys[0] == lk::kKeyCount, "one entry per lobby key");

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "lobby_data_fuzz: %s\n", what);
    std::abort();
}

struct World : steamtest::LobbyWorld {
    onlinetest::TempDir files;
};
World* gWorld = nullptr;

bool Setup() {
    gWorld = new World;
    return gWorld->Meet("O", "G");
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const char* values[] = {"1", "-1", "2147483648", "99999999999999999999", "abc", "3", "ffffffffffffffffff", ""};
    for (uint8_t k = 0; k < lk::kKeyCount; ++k)
        for (uint8_t op = 0; op < 2; ++op) {
            const char* v = values[(k + op) % 8];
            std::vector<uint8_t> in = {op, k, uint8_t(std::strlen(v))};
            in.insert(in.end(), v, v + std::strlen(v));
            add(in.data(), in.size());
        }
    const uint8_t chat[] = {2, 0, 5, 'h', 0, 'i', 0, 'x'};
    add(chat, sizeof chat);
    const uint8_t name[] = {4, 0, 5, 0xF0, 0x9F, 0x98, 0x80, 0xC3};
    add(name, sizeof name);
    const uint8_t file[] = {6, 0, 4, 'b', 'o', 't', '\n'};
    add(file, sizeof file);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    Check(Setup(), "the drivers did not meet");
    std::atexit([] { delete gWorld; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    World& w = *gWorld;
    const online::OnlineId lobby = w.owner.driver->CurrentLobby();
    size_t at = 0;
    for (int record = 0; record < 16 && at + 3 <= size; ++record) {
        const uint8_t op = data[at] % 7;
        const uint8_t key = data[at + 1];
        size_t length = data[at + 2];
        at += 3;
        if (length > size - at) length = size - at;
        const uint8_t* bytes = data + at;
        at += length;
        const std::string text(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), length));
        switch (op) {
        case 0:
            w.owner.ctx->Matchmaking()->SetLobbyData(lobby, kKeys[key % lk::kKeyCount], text.c_str());
            break;
        case 1:
            w.guest.ctx->Matchmaking()->SetLobbyMemberData(lobby, kKeys[key % lk::kKeyCount], text.c_str());
            break;
        case 2:
            w.guest.ctx->Matchmaking()->SendLobbyChatMsg(lobby, bytes, static_cast<int>(length));
            break;
        case 3:
            w.owner.driver->HandleRouted(key % Network::SteamNetDriver::ROUTE_KIND_COUNT, bytes, static_cast<uint32_t>(length));
            break;
        case 4: {
            char16_t name[lk::kNameUnits];
            Network::steamdetail::Utf8Name(text.c_str(), name);
            uint32_t n = 0;
            while (n < lk::kNameUnits && name[n]) ++n;
            Check(n < lk::kNameUnits, "a name without its terminator");
            Check(n == 0 || name[n - 1] < 0xD800 || name[n - 1] > 0xDBFF, "a name cut inside a character");
            break;
        }
        default: {
            std::ofstream(w.files.path / (op == 5 ? "AutoMatchID.txt" : "AutoMatchGroup.txt"), std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(length));
            w.guest.driver->ReadAutoMatchFiles(w.files.path.c_str());
            Check(w.guest.driver->AutoMatchGroup() >= 0 && w.guest.driver->AutoMatchGroup() <= 2, "a group outside 0-2");
            break;
        }
        }
        w.Pump(2);
    }
    for (steamtest::Player* p : {&w.owner, &w.guest}) {
        for (uint32_t m = 0; m < 2; ++m) {
            const Network::LobbyMemberInfo& info = p->driver->GetLobbyMember(m);
            Check(info.mapMask <= lk::kMapMaskBits && info.teamFilter <= 2, "a member field outside its range");
        }
        Check(p->driver->LobbyGetSelectedMap() >= 0 && p->driver->LobbyGetSelectedMap() < int32_t(lk::kMapCount), "a map outside 0-3");
        Check(p->driver->Team() == 0 || p->driver->Team() == 1, "a team outside 0-1");
        if (p->driver->GetDriverState() != Network::IN_LOBBY) p->driver->LobbyRestore();
    }
    return 0;
}
