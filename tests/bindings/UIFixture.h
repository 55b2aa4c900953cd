#pragma once
// The UI elements the UI package's cases work on, added to the table Fixture (one fresh
// element of each class, in a tree under a root the fixture releases at the end), and the
// table UIFixture with what a script cannot read by itself:
//   UIFixture.Recording(local)   a new element of script class UIElement whose teardowns
//                                and frees are counted (new_local ownership when local);
//                                successive ones reuse one block once it is free, so an
//                                element can be made at a freed element's address
//   UIFixture.Teardowns(), Frees()   the counts so far
//   UIFixture.Address(e)         the element's address as a number (nil for a dead handle)
//   UIFixture.Fire(e)            runs the element's actions once (the render side, inline)
//                                and the hand-over of elements deleted by an action
//   UIFixture.Flags(e)           the render copy of the flag word
//   UIFixture.Position(e), Color(e)   the render copies, four numbers each
//   UIFixture.Actions(e, channel)     the number of queued actions and the first one's flags
//   UIFixture.RecordOps(), OpsPosted()   starts counting posted element ops; the count
//   UIFixture.FontSize(e)        the text element's font size
//   UIFixture.FadeTime(p)        a string partitioner's fade time
//   UIFixture.RegisterClass(name, base)   a script class of the host
//   UIFixture.Owned(e)           whether the script owns the element now
//   UIFixture.Entry(container, i)   the tag and text of a replacement entry (from 0)
//   UIFixture.TextLength(e)      the characters a text element shows (render copy)
// The strings the build writes with tests/bindings/ui_data.py are loaded at open (into a
// string manager of the fixture's own when the engine's start-up made none).
// While no game runs, the fixture reaches the Game's screen slots as a running game does,
// so a screen's teardown empties the slots naming it.
struct lua_State;

void OpenUIFixture(lua_State* L);
// Releases what the fixture made, and what a script left under the memory guard (after
// the state is closed).
void CloseUIFixture();
