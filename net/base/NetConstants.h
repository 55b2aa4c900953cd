#pragma once
// The multiplayer engine's fixed sizes, ids and result codes in one place, with the
// wire and record sizes they must keep.
#include <cstdint>

// ---- Result codes (driver, engine and scripts; module Network in scripts) ----
enum NetError : uint32_t {
    NETERROR_OK = 0,
    NETERROR_INVALID_ADDRESS = 1,
    NETERROR_PORT_IN_USE = 2,
    NETERROR_TIMEOUT = 3,
    NETERROR_TIMEOUT_STEAM_ON = 4,
    NETERROR_TIMEOUT_STEAM_OFF = 5,
    NETERROR_REJECTED = 6,
    NETERROR_NOT_AUTHORIZED = 7,
    NETERROR_INPROGRESS = 8,
    NETERROR_INVALIDSTATE = 9,
    NETERROR_NOT_SUPPORTED = 10,
    NETERROR_UNRECOVERABLE = 11,
};

// ---- Lobby and chat values scripts use ----
enum : uint32_t { ELOBBYMEMBERID_SELF = 0, ELOBBYMEMBERID_PEER = 1, ELOBBYMEMBERID_MAX = 2 };
enum : uint32_t { ELOBBYERROR_CREATEFAILED = 0, ELOBBYERROR_JOINFAILED = 1 };
enum : uint32_t { ELOBBYTEAM_SQUAD = 0, ELOBBYTEAM_TOWERS = 1, ELOBBYTEAM_ANY = 2 };
enum : uint32_t {
    ECHATENTRYTYPE_HOST_MSG = 0,
    ECHATENTRYTYPE_PEER_MSG = 1,
    ECHATENTRYTYPE_PEER_JOINS = 2,
    ECHATENTRYTYPE_PEER_LEAVES = 3,
    ECHATENTRYTYPE_SWITCHED_SIDES = 4,
    ECHATENTRYTYPE_CHANGED_MAP = 5,
    ECHATENTRYTYPE_MAX = 6,
};
enum : uint32_t { REPLICATEMETHOD_NOLOG = 1 };

// ---- Peer synchronisation states (host side) ----
enum PlayerSyncState : uint32_t {
    PLAYERSYNCSTATE_NONE = 0,
    PLAYERSYNCSTATE_READY_TO_SYNC = 1,
    PLAYERSYNCSTATE_SYNCING = 2,
    PLAYERSYNCSTATE_READY = 3,
};

// ---- Modes and states (each thread keeps its own view) ----
enum : uint32_t { NETMODE_NONE = 0, NETMODE_HOST = 1, NETMODE_CLIENT = 2 };
enum : uint32_t { NETSTATE_IDLE = 0, NETSTATE_IN_GAME = 1, NETSTATE_DISCONNECTING = 2 };

// ---- Main-to-network commands ----
enum NetCommand : uint32_t {
    NETCMD_QUIT = 8,
    NETCMD_HOST = 9,
    NETCMD_JOIN = 10,
    NETCMD_DISCONNECT = 11,
    NETCMD_CONNECTION_ANSWER = 12,
    NETCMD_ENTITY_RECORD = 13,
    NETCMD_METHOD_CALL = 14,
    NETCMD_CHAT = 15,
    NETCMD_SYNCHRONIZE_PLAYER = 16,
    NETCMD_END_FRAME = 17,
    NETCMD_SET_NETWORK_PARAMS = 18,
    NETCMD_LOBBY_CREATE_PRIVATE = 19,
    NETCMD_LOBBY_RESTORE = 20,
    NETCMD_LOBBY_ACCEPT_JOIN_REQUEST = 21,
    NETCMD_LOBBY_REQUEST_JOIN = 22,
    NETCMD_LOBBY_LEAVE = 23,
    NETCMD_LOBBY_SET_READY = 24,
    NETCMD_LOBBY_SET_OWNER = 25,
    NETCMD_LOBBY_SET_SKILL = 26,
    NETCMD_LOBBY_SET_RANKED_SKILL = 27,
    NETCMD_LOBBY_SET_GRADE = 28,
    NETCMD_LOBBY_INVITE_FRIEND = 29,
    NETCMD_LOBBY_SWITCH_SIDES = 30,
    NETCMD_LOBBY_AUTO_MATCH = 31,
    NETCMD_LOBBY_STOP_AUTO_MATCH = 32,
    NETCMD_LOBBY_SET_SELECTED_MAP = 33,
    NETCMD_FIRST = NETCMD_QUIT,
    NETCMD_LAST = NETCMD_LOBBY_SET_SELECTED_MAP,
};

// ---- Network-to-main callbacks ----
enum NetCallback : uint32_t {
    NETCB_HOST_RESULT = 8,
    NETCB_JOIN_RESULT = 9,
    NETCB_DISCONNECTED = 10,
    NETCB_PEER_CONNECTING = 11,
    NETCB_PEER_CONNECTED = 12,
    NETCB_PEER_READY = 13,
    NETCB_CALLS_ACKNOWLEDGED = 14,
    NETCB_PEER_DISCONNECTED = 15,
    NETCB_PEER_STALL = 16,
    NETCB_PEER_RESUME = 17,
    NETCB_METHOD_CALL = 18,
    NETCB_TEXT_MESSAGE = 19,
    NETCB_ENTITY_RECORD = 20,
    NETCB_RELEASE_MULTIPLAYER_ID = 21,
    NETCB_FRAME_TIMES = 22,
    NETCB_LOBBY_UPDATED = 23,
    NETCB_LOBBY_JOIN_REQUESTED = 24,
    NETCB_LOBBY_GAME_START_REQUEST = 25,
    NETCB_LOBBY_ERROR = 26,
    NETCB_FIRST = NETCB_HOST_RESULT,
    NETCB_LAST = NETCB_LOBBY_ERROR,
};

// ---- Frames the driver carries ----
enum NetFrameKind : uint32_t { NETFRAME_GAME_PACKET = 0, NETFRAME_TIME_SYNC = 1 };
constexpr uint8_t kGamePacketFrameType = 5;
constexpr uint8_t kTimeSyncFrameType = 6;

// ---- Sizes ----
constexpr uint32_t kCallbackQueueBytes = 0x100000;
// Free callback-queue bytes a received packet needs (its callbacks plus a margin).
constexpr uint32_t kPacketCallbackRoom = 102400 + 512;
constexpr uint32_t kMultiplayerIdCount = 4096;
constexpr uint32_t kDictionarySlots = 256;
constexpr uint32_t kPacketHeaderBytes = 26;
constexpr uint32_t kPacketHeaderBits = kPacketHeaderBytes * 8;
constexpr uint32_t kMaxPacketBytes = 1200;
constexpr uint32_t kMaxPacketBits = kMaxPacketBytes * 8;
constexpr uint32_t kPacketSectionCount = 5;
constexpr uint32_t kNoSection = kPacketSectionCount;
constexpr uint32_t kPacketHistorySize = 100;
constexpr uint32_t kMaxPacketsPerPass = 2;
constexpr uint32_t kAckRepeats = 3;
constexpr uint32_t kTimeSyncFrameBytes = 14;
constexpr uint32_t kAutoMatchRecordBytes = 40;
constexpr uint32_t kMethodCallBytes = 328;
constexpr uint32_t kMethodCallCallbackBytes = 4 + 8 + kMethodCallBytes;
// The documented record size; ours carries pointers-free fields at natural alignment and
// may differ (EntityRecord, copied whole through command 13 and callback 20).
constexpr uint32_t kEntityRecordBytes = 736;
// Callback-queue bytes one received entity record may need.
constexpr uint32_t kEntityRecordCallbackRoom = 1024;
constexpr uint32_t kHostNameBytes = 128;
// Chat: the handler's 256-byte buffer holds 127 units and a terminator; callback 19's
// name buffer is 64 bytes (31 units), its text buffer 256 bytes.
constexpr uint32_t kMaxChatUnits = 127;
constexpr uint32_t kMaxNameUnits = 31;
constexpr uint32_t kChatLineUnits = 256;
constexpr uint32_t kTextItemUnits = 128;

// Game-packet sections.
enum PacketSectionId : uint32_t {
    SECTION_DICTIONARY = 0,
    SECTION_ENTITIES = 1,
    SECTION_ACKS = 2,
    SECTION_CALLS = 3,
    SECTION_TEXTS = 4,
};

// Hostile peers: what one peer may make us hold.
constexpr uint32_t kMaxQueuedReliableCalls = 4096;
constexpr uint32_t kMaxQueuedTexts = 1024;
constexpr uint32_t kMaxClientAcks = 256;
constexpr uint32_t kMaxPendingCalls = 4096;

// Timing.
constexpr int64_t kSendIntervalUs = 200000;  // a send pass after more than 0.2 s
constexpr uint32_t kCallbackQueueRetryMs = 10;
constexpr int64_t kTimeSyncExpiryUs = 5000000;
constexpr uint32_t kTimeSyncMaxOutstanding = 5;
constexpr uint32_t kTimeSyncSamples = 10;
constexpr uint32_t kFrameTimeUnitUs = 10000;  // header time unit

// The replicated state's lag that scripts read (seconds).
constexpr float STATE_UPDATE_LAG_S_VALUE = 0.2f;
extern const float STATE_UPDATE_LAG_S;

constexpr uint32_t kLocalPlayerId = 0xFFFFFFFFu;
constexpr uint32_t kServerCallerId = 0xFFFFFFFFu;
constexpr uint32_t kInitialControllerIndex = 256;
constexpr int32_t kNoPeer = -1;

static_assert(kPacketHeaderBytes == 26 && kTimeSyncFrameBytes == 14 && kMaxPacketBytes == 1200, "wire sizes");
static_assert(kAutoMatchRecordBytes == 40 && kMethodCallBytes == 328, "record sizes");
