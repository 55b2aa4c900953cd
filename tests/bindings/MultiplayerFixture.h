#pragma once
// The engine objects of the multiplayer and game-delegate cases, added to the table
// Fixture of the script state (EntityFixture.h):
//   Fixture.MultiplayerEngine()    the engine over a loopback link, without its thread,
//                                  with its remote player; published as gMultiplayerEngine
//   Fixture.Player()               the engine's local player
//   Fixture.MultiplayerCommands()  takes every record out of the main-to-network ring,
//                                  unrun: a list of {id, size, u32 = {...}, f32 = {...},
//                                  bytes = "..."}
//   Fixture.SetLobby(members)      the loopback lobby, then one wake of the engine (which
//                                  runs what the ring held): members[i] = {name = UTF-8,
//                                  skill = number, ready = boolean} for slot i - 1
//   Fixture.ChatEchoes()           the chat lines the engine's delegate received, each a
//                                  list of UTF-16 units
//   Fixture.Units(string)          the UTF-16 units of a LuaUnicodeString, in a list
//   Fixture.Unicode(text)          a new LuaUnicodeString of UTF-8 text
//   Fixture.SteamLeaderboardsManager()  a manager signed in to an in-process broker whose
//                                  board "M01" (descending) holds ten scores
//   Fixture.PumpLeaderboards(m)    runs the services' callbacks until the queue of manager m
//                                  (nil: the fixture's) is empty (about five seconds at
//                                  most); true when it is; 50 pumps a state, past them it
//                                  answers false at once
//   Fixture.GamerProfile()         a profile logged in over the same services
//   Fixture.GameDelegate(), Fixture.LuaGameDelegate()   base delegates
//   Fixture.AnsweringDelegate()    a LuaGameDelegate whose Steam, Xbox and Game Center
//                                  queries answer true
//   Fixture.Actions()              XBoxLiveLogin and OpenGameCenterMatchmakingUI calls the
//                                  answering delegate received
//   Fixture.Scene(name, text)      sets the entity manager's scene name (nil: none) and,
//                                  with text, writes "scenes/<name>.lua" of a mounted folder
//                                  (names of letters, digits and '_' only; others do nothing)
struct lua_State;
namespace online {
class OnlineContext;
}

void OpenMultiplayerFixture(lua_State* L);
// The services signed in to the fixture's broker (opened on first use), for the game's
// delegate of the cases; null when the broker did not open. They live until
// CloseMultiplayerFixture, so whatever uses them goes first.
online::OnlineContext* MultiplayerFixtureServices();
// Destroys what the fixture made (after the state is closed).
void CloseMultiplayerFixture();
