#pragma once
// The game kinds the game-package cases work on, in the table Fixture of the script
// state (beside EntityFixture's scene, which must exist first):
//   Fixture.GameKind(templateClass)     a new entity of that game template class
//   Fixture.SetEmergence(marker, value) stores a tower marker's emergence type
//   Fixture.TextOf(text)                a text element's text
//   Fixture.LCZKRGamerProfile()          the multiplayer fixture's logged-in profile
//   Fixture.ZKRGameDelegate()           the multiplayer fixture's script delegate
//   Fixture.PCMacProgressData() ...      a progress result of two areas, its first area,
//                                       and an analyzer without leaderboards (the engine's)
//   Fixture.ShareProgressAnalyzer(m)    the shared analyzer made over leaderboards manager m
//                                       (nil: none)
//   Fixture.CountCollections(class)     counts the runs of the class's collector from now
//                                       on: a function answering the count
struct lua_State;

void OpenGameFixture(lua_State* L);
