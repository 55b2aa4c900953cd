#pragma once
// The game kinds the game-package cases work on, in the table Fixture of the script
// state (beside EntityFixture's scene, which must exist first):
//   Fixture.GameKind(templateClass)     a new entity of that game template class
//   Fixture.SetEmergence(marker, value) stores a tower marker's emergence type
//   Fixture.TextOf(text)                a text element's text
//   Fixture.ZKRGameDelegate(), Fixture.PCMacGameDelegate()   the game's delegate (gGameDelegate)
//   Fixture.LogIn(d), Fixture.LogOut(d)  the delegate's default user logged in (unless a
//                                       profile is) or out
//   Fixture.PCMacGamerProfile(), Fixture.LCZKRGamerProfile()   the delegate's profile,
//                                       its default user logged in first
//   Fixture.PCMacProgressData() ...      a progress result of two areas, its first area,
//                                       and an analyzer without leaderboards (the engine's)
//   Fixture.ShareProgressAnalyzer(m)    the shared analyzer made over leaderboards manager m
//                                       (nil: none)
//   Fixture.CountCollections(class)     counts the runs of the class's collector from now
//                                       on: a function answering the count
struct lua_State;

void OpenGameFixture(lua_State* L);
