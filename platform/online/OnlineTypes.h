#pragma once
// Value types of the online services: account and lobby ids, call handles, the
// numeric codes that callers compare against, and the callback records delivered by
// OnlineContext::RunCallbacks. Each record carries its callback number (kCallbackId);
// the numbers and field meanings are the ones the game's service layer relies on.
// Records are plain data: every field is an integer, so any byte pattern is a valid
// record (the client copies them from broker messages after a size check).
#include <cstdint>

namespace online {

using OnlineId = uint64_t;    // 64-bit account or lobby id (see MakeUserId / MakeLobbyId)
using CallHandle = uint64_t;  // asynchronous call handle; 0 = no call
using AuthTicket = uint32_t;  // ticket handle; 0 = none
using LeaderboardHandle = uint64_t;
using LeaderboardEntriesHandle = uint64_t;

// Id layout: bits 0-31 account number, 32-51 instance, 52-55 account type, 56-63 universe.
constexpr uint32_t kUniversePublic = 1;
constexpr uint32_t kAccountTypeIndividual = 1;
constexpr uint32_t kAccountTypeChat = 8;
constexpr uint32_t kInstanceDesktop = 1;
constexpr uint32_t kInstanceLobbyFlag = 0x40000;  // chat instance flag that marks a lobby

constexpr OnlineId MakeOnlineId(uint32_t account, uint32_t instance, uint32_t type, uint32_t universe) {
    return (static_cast<uint64_t>(universe & 0xFF) << 56) | (static_cast<uint64_t>(type & 0xF) << 52) |
           (static_cast<uint64_t>(instance & 0xFFFFF) << 32) | account;
}
constexpr OnlineId MakeUserId(uint32_t account) {
    return MakeOnlineId(account, kInstanceDesktop, kAccountTypeIndividual, kUniversePublic);
}
constexpr OnlineId MakeLobbyId(uint32_t number) {
    return MakeOnlineId(number, kInstanceLobbyFlag, kAccountTypeChat, kUniversePublic);
}
constexpr uint32_t AccountOf(OnlineId id) { return static_cast<uint32_t>(id & 0xFFFFFFFFu); }
constexpr uint32_t TypeOf(OnlineId id) { return static_cast<uint32_t>(id >> 52) & 0xF; }
constexpr uint32_t UniverseOf(OnlineId id) { return static_cast<uint32_t>(id >> 56); }
constexpr uint32_t InstanceOf(OnlineId id) { return static_cast<uint32_t>(id >> 32) & 0xFFFFF; }
// An individual account of the public universe on the desktop instance, non-zero number.
constexpr bool IsValidUserId(OnlineId id) {
    return TypeOf(id) == kAccountTypeIndividual && UniverseOf(id) == kUniversePublic &&
           InstanceOf(id) == kInstanceDesktop && AccountOf(id) != 0;
}
constexpr bool IsValidLobbyId(OnlineId id) {
    return TypeOf(id) == kAccountTypeChat && UniverseOf(id) >= 1 && UniverseOf(id) <= 4 && AccountOf(id) != 0;
}

// Lobby types accepted by CreateLobby.
enum LobbyType : int32_t { kLobbyPrivate = 0, kLobbyFriendsOnly = 1, kLobbyPublic = 2, kLobbyInvisible = 3 };

// Generic result codes (creation results, stats results).
enum Result : uint32_t { kResultOK = 1, kResultFail = 2, kResultNoConnection = 3, kResultInvalidParam = 8 };

// Lobby entry responses.
enum EnterResponse : uint32_t {
    kEnterSuccess = 1, kEnterDoesNotExist = 2, kEnterNotAllowed = 3, kEnterFull = 4, kEnterError = 5
};

// Member state change flags of LobbyChatUpdate.
enum MemberChange : uint32_t { kMemberEntered = 1, kMemberLeft = 2, kMemberDisconnected = 4 };

enum ChatEntryType : int32_t { kChatEntryInvalid = 0, kChatEntryMessage = 1 };

// Lobby list comparison: "lobby value OP given value".
enum LobbyComparison : int32_t {
    kCompareLessOrEqual = -2, kCompareLess = -1, kCompareEqual = 0,
    kCompareGreater = 1, kCompareGreaterOrEqual = 2, kCompareNotEqual = 3
};

enum P2PSendType : int32_t { kSendUnreliable = 0, kSendUnreliableNoDelay = 1, kSendReliable = 2, kSendReliableWithBuffering = 3 };
enum P2PError : uint8_t { kP2PErrorNone = 0, kP2PErrorNotRunningApp = 1, kP2PErrorTimeout = 4 };

enum FriendRelationship : int32_t { kRelationNone = 0, kRelationFriend = 3, kRelationRequestInitiator = 4 };
enum PersonaChange : uint32_t { kPersonaChangeName = 1, kPersonaChangeAvatar = 64 };

enum BeginAuthResult : int32_t { kBeginAuthOK = 0, kBeginAuthInvalidTicket = 1, kBeginAuthDuplicate = 2 };
enum AuthResponse : uint32_t { kAuthOK = 0, kAuthNotConnected = 1, kAuthTicketCanceled = 6, kAuthTicketInvalid = 8 };

enum LeaderboardRequest : int32_t { kLeaderboardGlobal = 0, kLeaderboardAroundUser = 1, kLeaderboardFriends = 2 };
enum LeaderboardUploadMethod : int32_t { kUploadKeepBest = 1, kUploadForceUpdate = 2 };
enum LeaderboardSort : int32_t { kSortAscending = 1, kSortDescending = 2 };

constexpr int kAvatarSize = 184;           // large avatars are 184 x 184 RGBA
constexpr uint32_t kMaxTicketBytes = 1024;
constexpr int kMaxLeaderboardDetails = 64;
constexpr uint32_t kMaxUnreliablePacket = 1200;
constexpr uint32_t kMaxReliablePacket = 512 * 1024;
constexpr uint32_t kMaxChatMessage = 4096;
constexpr uint32_t kMaxCloudFile = 8 * 1024 * 1024;

// ---- Callback records ----

struct ValidateAuthTicketResponse {
    static constexpr int kCallbackId = 143;
    OnlineId user;
    uint32_t response;  // AuthResponse
    OnlineId owner;
};
struct PersonaStateChange {
    static constexpr int kCallbackId = 304;
    OnlineId user;
    uint32_t changeFlags;  // PersonaChange bits
};
struct GameOverlayActivated {
    static constexpr int kCallbackId = 331;
    uint8_t active;
};
struct GameLobbyJoinRequested {
    static constexpr int kCallbackId = 333;
    OnlineId lobby;
    OnlineId friendId;  // who invited
};
struct AvatarImageLoaded {
    static constexpr int kCallbackId = 334;
    OnlineId user;
    int32_t image;
    int32_t wide;
    int32_t tall;
};
struct LobbyEnter {
    static constexpr int kCallbackId = 504;
    OnlineId lobby;
    uint32_t chatPermissions;
    uint8_t locked;
    uint32_t response;  // EnterResponse
};
struct LobbyDataUpdate {
    static constexpr int kCallbackId = 505;
    OnlineId lobby;
    OnlineId member;  // the lobby id for lobby data, the member for member data
    uint8_t success;
};
struct LobbyChatUpdate {
    static constexpr int kCallbackId = 506;
    OnlineId lobby;
    OnlineId userChanged;
    OnlineId makingChange;
    uint32_t changeFlags;  // MemberChange bits
};
struct LobbyChatMsg {
    static constexpr int kCallbackId = 507;
    OnlineId lobby;
    OnlineId user;
    uint8_t entryType;  // ChatEntryType
    uint32_t chatId;
};
struct LobbyMatchList {
    static constexpr int kCallbackId = 510;
    uint32_t lobbiesMatching;
};
struct LobbyCreated {
    static constexpr int kCallbackId = 513;
    uint32_t result;  // Result
    OnlineId lobby;
};
struct UserStatsReceived {
    static constexpr int kCallbackId = 1101;
    uint64_t gameId;  // app id in the low 24 bits, high word 0
    uint32_t result;
    OnlineId user;
};
struct UserStatsStored {
    static constexpr int kCallbackId = 1102;
    uint64_t gameId;
    uint32_t result;
};
struct UserAchievementStored {
    static constexpr int kCallbackId = 1103;
    uint64_t gameId;
    uint8_t groupAchievement;
    char achievementName[128];
    uint32_t curProgress;
    uint32_t maxProgress;
};
struct LeaderboardFindResult {
    static constexpr int kCallbackId = 1104;
    LeaderboardHandle leaderboard;
    uint8_t found;
};
struct LeaderboardScoresDownloaded {
    static constexpr int kCallbackId = 1105;
    LeaderboardHandle leaderboard;
    LeaderboardEntriesHandle entries;
    int32_t entryCount;
};
struct LeaderboardScoreUploaded {
    static constexpr int kCallbackId = 1106;
    uint8_t success;
    LeaderboardHandle leaderboard;
    int32_t score;
    uint8_t scoreChanged;
    int32_t globalRankNew;
    int32_t globalRankPrevious;  // 0 when the user had no entry
};
struct P2PSessionRequest {
    static constexpr int kCallbackId = 1202;
    OnlineId remote;
};
struct P2PSessionConnectFail {
    static constexpr int kCallbackId = 1203;
    OnlineId remote;
    uint8_t error;  // P2PError
};

// One row of a downloaded leaderboard range.
struct LeaderboardEntry {
    OnlineId user;
    int32_t globalRank;  // 1-based
    int32_t score;
    int32_t detailCount;
    uint64_t ugc;  // always 0 (no attached content)
};

// Size of the record of a callback number, 0 for numbers this layer never raises.
uint32_t CallbackRecordSize(int callbackId);

}  // namespace online
