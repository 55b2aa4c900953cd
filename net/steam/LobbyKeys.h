#pragma once
// The lobby and member data keys the online driver reads and writes, and the limits
// of the lobby's texts. Values are decimal text unless a key says otherwise.
#include <cstdint>

namespace Network::lobbykey {

constexpr const char* kGameStarting = "game_starting";          // lobby: owner's start counter
constexpr const char* kSquadSkill = "squadSkill";               // lobby (integer) and member (x 1000)
constexpr const char* kTowersSkill = "towersSkill";             // as kSquadSkill
constexpr const char* kRankedSquadSkill = "rankedSquadSkill";   // member (x 1000)
constexpr const char* kRankedTowersSkill = "rankedTowersSkill"; // member (x 1000)
constexpr const char* kGrade = "grade";                         // lobby and member
constexpr const char* kRanked = "ranked";                       // lobby: 0 or 1
constexpr const char* kMap = "map";                             // lobby: 0 to 3
constexpr const char* kMapCombPrefix = "mapComb";               // lobby: + four "1"/"0" characters
constexpr const char* kMapMask = "mapMask";                     // member: bits 0 to 3
constexpr const char* kMinSquadSkill = "minSquadSkill";         // lobby: the search window
constexpr const char* kMaxSquadSkill = "maxSquadSkill";
constexpr const char* kMinTowersSkill = "minTowersSkill";
constexpr const char* kMaxTowersSkill = "maxTowersSkill";
constexpr const char* kTeam = "team";                           // member: 0 or 1
constexpr const char* kTeamFilter = "teamFilter";               // lobby and member: 0, 1 or 2
constexpr const char* kReady = "ready";                         // member: "1" ready
constexpr const char* kAutoMatchId = "autoMatchID";             // lobby
constexpr const char* kAutoMatchBotFilter = "autoMatchBotFilter"; // lobby: 0, 1 or 2
constexpr const char* kOwnerId = "ownerID";                     // lobby: owner's id, lower-case hex
constexpr const char* kServerId = "serverID";                   // lobby: host's id, lower-case hex
constexpr int kKeyCount = 21;

constexpr uint32_t kMapCount = 4;
constexpr uint32_t kMapMaskBits = (1u << kMapCount) - 1;
constexpr uint32_t kLobbyMembers = 2;
constexpr uint32_t kNameUnits = 32;        // persona names: 31 units and a terminator
constexpr uint32_t kChatSendUnits = 128;   // a sent chat line, no terminator
constexpr uint32_t kChatEntryBytes = 256;  // a received chat entry ...
constexpr uint32_t kChatReceiveUnits = 127; // ... of which at most this many units are kept
constexpr float kSkillScale = 1000.0f;     // member skills travel as skill x 1000

}  // namespace Network::lobbykey
