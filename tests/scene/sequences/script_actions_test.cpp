// test-sanitize: address
// Script-declared action classes (declaration, parameters, re-declaration passes) and the
// sequence spawner.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "SequenceTestSupport.h"
#include "ShellCommand.h"
#include "core/BoundedReader.h"

using namespace seqtest;

namespace {

SequenceActionFactory& Factory() { return *gSequenceActionFactory; }

// Each test declares its classes under names of its own: the class-name registry keeps
// every name for the process's life.
int32_t Declare(const char* name, const char* base = "SequenceAction", bool instant = false,
                std::initializer_list<std::pair<const char*, const char*>> params = {}) {
    const int32_t index = Factory().RegisterLuaSequenceActionClass(name, base, instant, nullptr);
    for (auto& p : params) Factory().AddLuaSequenceActionParam(index, p.first, p.second);
    return index;
}

LuaSequenceAction* Make(const char* name) {
    return dynamic_cast<LuaSequenceAction*>(NameRegistry::CreateObject(name));
}

std::vector<std::string> ParamNames(LuaSequenceAction* a) {
    std::vector<std::string> out;
    for (LuaSequenceActionParam* p : a->Params()) out.push_back(std::string(p->typeName.CStr()) + " " + p->name.CStr());
    return out;
}

}  // namespace

TEST_F(SequenceTest, DeclaredClassesMakeInstancesWithTypedParameters) {
    const int32_t index = Declare("ScriptSay", "SequenceAction", false,
                                  {{"Text", "string"}, {"Loud", "bool"}, {"Volume", "float"}, {"Count", "int"},
                                   {"Ignored", "double"}});
    ASSERT_GE(index, 0);
    EXPECT_EQ(index, NameRegistry::FindIndex("ScriptSay"));
    EXPECT_EQ(Declare("ScriptSay", "Other", true), index);  // the same index, arguments ignored
    LuaSequenceAction* a = Make("ScriptSay");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->time, 1.0f);  // not instant
    EXPECT_STREQ(a->GetClassName(), "ScriptSay");
    EXPECT_EQ(ParamNames(a), (std::vector<std::string>{"bool Loud", "int Count", "float Volume", "string Text"}));
    a->SetStringParam("Text", "hello");
    a->SetIntParam("Count", 3);
    a->SetFloatParam("Volume", 0.5f);
    a->SetBoolParam("Loud", true);
    a->SetIntParam("Text", 9);  // no int "Text": nothing
    EXPECT_EQ(a->GetIntParam("Text"), 0);
    EXPECT_STREQ(a->GetStringParam("Text"), "hello");

    AddSequence("S", {{a}});
    SequenceSystem& s = *gSequenceSystem;
    ASSERT_EQ(s.GetParamCount(0, 0, 0), 4u + 5u);
    const char* names[] = {"Text", "Loud", "Volume", "Count", "Time"};
    const int32_t types[] = {12, 19, 8, 9, 8};
    for (uint32_t p = 0; p < 5; ++p) {
        EXPECT_STREQ(s.GetParamName(0, 0, 0, p), names[p]);
        EXPECT_EQ(s.GetParamType(0, 0, 0, p), types[p]);
    }
    EXPECT_STREQ(s.GetStringParamValue(0, 0, 0, 0), "hello");
    EXPECT_TRUE(s.GetBoolParamValue(0, 0, 0, 1));
    EXPECT_FLOAT_EQ(s.GetFloatParamValue(0, 0, 0, 2), 0.5f);
    EXPECT_EQ(s.GetIntParamValue(0, 0, 0, 3), 3);
    EXPECT_EQ(s.GetIntParamValue(0, 0, 0, 1), 1);

    // Through a property blob and back.
    std::vector<uint8_t> blob(a->SolidSerialize(nullptr, 0));
    a->SolidSerialize(blob.data(), 0);
    LuaSequenceAction* b = Make("ScriptSay");
    BoundedReader in(blob.data(), blob.size());
    b->SolidDeserialize(in, 0);
    EXPECT_FALSE(in.Failed());
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_STREQ(b->GetStringParam("Text"), "hello");
    EXPECT_EQ(b->GetIntParam("Count"), 3);
    EXPECT_FLOAT_EQ(b->GetFloatParam("Volume"), 0.5f);
    EXPECT_TRUE(b->GetBoolParam("Loud"));
    EXPECT_EQ(b->time, 1.0f);
    EXPECT_TRUE(b->SetPropertyFromString("Count", "12"));
    EXPECT_EQ(b->GetIntParam("Count"), 12);
    delete b;
}

TEST_F(SequenceTest, BaseClassesAndRefusedNames) {
    const int32_t base = Declare("ScriptBase", "SequenceAction", true, {{"Shared", "int"}});
    Declare("ScriptDerived", "ScriptBase", false, {{"Own", "float"}});
    LuaSequenceAction* d = Make("ScriptDerived");
    EXPECT_EQ(ParamNames(d), (std::vector<std::string>{"float Own", "int Shared"}));
    d->SetIntParam("Shared", 4);
    AddSequence("S", {{d}});
    EXPECT_EQ(gSequenceSystem->GetParamCount(0, 0, 0), 2u + 5u);
    EXPECT_EQ(gSequenceSystem->GetIntParamValue(0, 0, 0, 1), 4);
    EXPECT_GE(base, 0);

    log.Clear();
    Declare("ScriptOnBuiltIn", "SequenceActionStartSequence", true, {{"P", "bool"}});
    EXPECT_EQ(log.Messages().size(), 1u);  // chained to "SequenceAction" with a warning
    SequenceActionClassEntry* e = Factory().FindEntry("ScriptOnBuiltIn");
    EXPECT_STREQ(e->baseClassName.CStr(), "SequenceActionStartSequence");
    EXPECT_STREQ(e->descriptor->Base()->Name(), "SequenceAction");
    LuaSequenceAction* onBuiltIn = Make("ScriptOnBuiltIn");
    EXPECT_EQ(onBuiltIn->time, 0.0f);  // instant
    delete onBuiltIn;

    log.Clear();
    EXPECT_EQ(Factory().RegisterLuaSequenceActionClass("SequenceSystem", "", false, nullptr), -1);
    EXPECT_EQ(Factory().RegisterLuaSequenceActionClass("SequenceActionSemaphore", "", false, nullptr), -1);
    EXPECT_EQ(log.Messages().size(), 2u);
    EXPECT_EQ(Factory().FindEntry("SequenceSystem"), nullptr);
}

TEST_F(SequenceTest, LookupNames) {
    const uint32_t before = Factory().LookupNames().Count();
    Factory().RegisterLuaSequenceActionClass("ScriptLookupA", "", false, "Target");
    Factory().RegisterLuaSequenceActionClass("ScriptLookupB", "", false, "Target");
    const int32_t c = Factory().RegisterLuaSequenceActionClass("ScriptLookupC", "", false, "");
    EXPECT_EQ(Factory().LookupNames().Count(), before + 1);
    EXPECT_EQ(Factory().FindEntry("ScriptLookupA")->lookupParamIndex, static_cast<int32_t>(before));
    EXPECT_EQ(Factory().FindEntry("ScriptLookupB")->lookupParamIndex, static_cast<int32_t>(before));
    EXPECT_EQ(Factory().FindEntry("ScriptLookupC")->lookupParamIndex, -1);
    Factory().AddSequenceActionLookupParamName(c, "x");
    Factory().AddSequenceActionLookupParamName(c, "x");
    Factory().AddSequenceActionLookupParamName(c, nullptr);
    Factory().AddSequenceActionLookupParamName(c, "");
    EXPECT_EQ(Factory().FindEntry("ScriptLookupC")->lookupParamNames.Count(), 2u);
}

TEST_F(SequenceTest, RedeclarationMigratesLiveInstances) {
    const int32_t index =
        Declare("ScriptMigrate", "SequenceAction", false, {{"Keep", "int"}, {"Old", "float"}, {"Retyped", "int"}});
    LuaSequenceAction* first = Make("ScriptMigrate");
    LuaSequenceAction* second = Make("ScriptMigrate");
    first->SetIntParam("Keep", 5);
    second->SetIntParam("Keep", 6);
    first->SetFloatParam("Old", 2.5f);
    first->SetIntParam("Retyped", 8);
    AddSequence("S", {{first, second}});

    Factory().BeginLuaActionsSync();
    EXPECT_TRUE(Factory().FindEntry("ScriptMigrate")->redeclarationMark);
    EXPECT_EQ(Declare("ScriptMigrate", "SequenceAction", false,
                      {{"Keep", "int"}, {"New", "string"}, {"Retyped", "float"}}),
              index);
    EXPECT_FALSE(Factory().FindEntry("ScriptMigrate")->redeclarationMark);
    Factory().EndLuaActionsSync();

    for (LuaSequenceAction* a : {first, second})
        EXPECT_EQ(ParamNames(a), (std::vector<std::string>{"int Keep", "int Retyped", "string New"}));
    EXPECT_EQ(first->GetIntParam("Keep"), 5);
    EXPECT_EQ(second->GetIntParam("Keep"), 6);
    EXPECT_EQ(first->GetStringParam("New"), nullptr);
    // The old int record stays; read as the declared float it gives 0.
    EXPECT_EQ(first->GetFloatParam("Retyped"), 0.0f);
    EXPECT_EQ(gSequenceSystem->GetParamType(0, 0, 0, 2), 8);
    EXPECT_EQ(gSequenceSystem->GetFloatParamValue(0, 0, 0, 2), 0.0f);
    // New instances follow the new declaration.
    LuaSequenceAction* fresh = Make("ScriptMigrate");
    EXPECT_EQ(ParamNames(fresh), (std::vector<std::string>{"int Keep", "float Retyped", "string New"}));
    delete fresh;
    EXPECT_EQ(Factory().FindEntry("ScriptMigrate")->liveInstances.Count(), 2u);
}

TEST_F(SequenceTest, SpawnerTurnsWaitsIntoStartOffsetsAndSplitsTracks) {
    Declare("LuaSequenceActionWait", "SequenceAction", false);
    Declare("ScriptStep", "SequenceAction", true, {{"Label", "string"}});
    SequenceSpawner& sp = *gSequenceSpawner;
    sp.BeginSequenceSpawn("Spawned");
    sp.AppendTrack("Main");
    ASSERT_TRUE(sp.AppendAction("ScriptStep"));  // A, "Time" 0
    sp.AppendActionParam("Label", "A");
    ASSERT_TRUE(sp.AppendAction("LuaSequenceActionWait"));
    sp.AppendActionParam("Time", "2");
    ASSERT_TRUE(sp.AppendAction("ScriptStep"));  // B
    sp.AppendActionParam("Label", "B");
    sp.AppendTrack("Timed");
    for (const char* t : {"1", "0.5"}) {
        ASSERT_TRUE(sp.AppendAction("SequenceActionRaiseGlobalSemaphore"));
        sp.AppendActionParam("Time", t);
        ASSERT_TRUE(sp.AppendAction("LuaSequenceActionWait"));
        sp.AppendActionParam("Time", "3");
    }
    log.Clear();
    EXPECT_FALSE(sp.AppendAction("NoSuchAction"));
    sp.AppendActionParam("Time", "9");  // after a failed action: nothing
    const auto messages = log.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Action NoSuchAction not found in class factory! Ommiting...");
    EXPECT_EQ(messages[0].severity, 3);
    EXPECT_EQ(messages[0].category, 2);
    sp.EndSequenceSpawn();

    Sequence* s = gSequenceSystem->FindSequence("spawned");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->tracks.Count(), 3u);
    EXPECT_STREQ(s->tracks[0]->name.CStr(), "Main");
    EXPECT_STREQ(s->tracks[1]->name.CStr(), "Track001");
    EXPECT_STREQ(s->tracks[2]->name.CStr(), "Timed");
    ASSERT_EQ(s->tracks[0]->actions.Count(), 1u);
    ASSERT_EQ(s->tracks[1]->actions.Count(), 1u);
    auto* b = static_cast<LuaSequenceAction*>(s->tracks[1]->actions[0]);
    EXPECT_STREQ(b->GetStringParam("Label"), "B");
    EXPECT_FLOAT_EQ(b->minimalStartTime, 2.0f);
    ASSERT_EQ(s->tracks[2]->actions.Count(), 2u);  // no time 0: one track
    EXPECT_FLOAT_EQ(s->tracks[2]->actions[0]->minimalStartTime, 0.0f);
    EXPECT_FLOAT_EQ(s->tracks[2]->actions[1]->minimalStartTime, 4.0f);

    // A spawned sequence starts by name and runs.
    ASSERT_NE(gSequenceSystem->StartSequence("Spawned", false, true), nullptr);
    Frame();
    EXPECT_TRUE(s->IsRunning());
}

TEST_F(SequenceTest, SpawnerKeepsAnExistingSequenceAndIgnoresCallsOutOfOrder) {
    Sequence* existing = AddSequence("Dup", {{Rec("x", 5.0f)}});
    SequenceSpawner& sp = *gSequenceSpawner;
    sp.AppendTrack("before begin");
    EXPECT_FALSE(sp.AppendAction("SequenceActionRaiseSemaphore"));
    sp.EndSequenceSpawn();
    sp.BeginSequenceSpawn("DUP");
    EXPECT_FALSE(sp.AppendAction("SequenceActionRaiseSemaphore"));  // no track yet
    sp.AppendTrack("t");
    EXPECT_TRUE(sp.AppendAction("SequenceActionRaiseSemaphore"));
    sp.EndSequenceSpawn();
    EXPECT_EQ(gSequenceSystem->GetSequenceCount(), 1u);
    EXPECT_EQ(gSequenceSystem->FindSequence("Dup"), existing);
    EXPECT_EQ(existing->tracks.Count(), 1u);
    // An unfinished spawn is dropped by the next begin.
    sp.BeginSequenceSpawn("Unfinished");
    sp.AppendTrack("t");
    sp.BeginSequenceSpawn("Second");
    sp.EndSequenceSpawn();
    EXPECT_EQ(gSequenceSystem->FindSequence("Unfinished"), nullptr);
    EXPECT_NE(gSequenceSystem->FindSequence("Second"), nullptr);
    EXPECT_EQ(sp.GetLuaSequenceFilename(), nullptr);
}

namespace {

// A sequence block written by the independent property-list writer.
std::vector<uint8_t> ToolBlock(const std::string& json) { return shelltest::PropList("sequence", json); }

}  // namespace

TEST_F(SequenceTest, ToolWrittenBlockLoadsTicksAndWritesBackTheSameBytes) {
    const int32_t c = Declare("ToolScriptAction", "SequenceAction", false,
                              {{"Loud", "bool"}, {"Count", "int"}, {"Gain", "float"}, {"Line", "string"}});
    ASSERT_GE(c, 0);
    const std::vector<uint8_t> block = ToolBlock(
        R"({"sequences":[)"
        R"({"name":"Intro","skippable":true,"after_skip":"Outro","tracks":[)"
        R"({"name":"Main","actions":[{"class":"SequenceActionRaiseGlobalSemaphore","semaphore":"door"},)"
        R"({"class":"SequenceActionIncreaseGlobalCountingSemaphore","semaphore":"n","value":2},)"
        R"({"class":"ToolScriptAction","script":true,"time":0.5,"params":[["Loud","bool",true],["Count","int",7],)"
        R"(["Gain","float",0.25],["Line","string","hi"]]},)"
        R"({"class":"SequenceActionWaitForGlobalCountingSemaphoreToReach","semaphore":"n","value":2,"skippable":true},)"
        R"({"class":"SequenceActionStartSequence","sequence":"Outro","gameplay_time":true}]},)"
        R"({"name":"Side","group":"g","in_group":true,"actions":[{"class":"SequenceActionCheckGlobalSemaphore",)"
        R"("semaphore":"door","if_yes":"Yes","if_no":"No","time":0.1,"comment":"c","editor_flags":0}]}]},)"
        R"({"name":"Outro","tracks":[{"name":"t","actions":[{"class":"SequenceActionWaitForGlobalSemaphore","semaphore":"door"}]}]},)"
        R"({"name":"Yes","disabled":true,"repeating":true}]})");
    ASSERT_FALSE(block.empty());
    BoundedReader in(block.data(), block.size());
    ASSERT_TRUE(ReadSequenceBlock(in));
    EXPECT_EQ(in.Remaining(), 0u);
    std::vector<uint8_t> again(gSequenceSystem->SolidSerialize(nullptr, 0));
    gSequenceSystem->SolidSerialize(again.data(), 0);
    EXPECT_EQ(again, block);

    SequenceSystem& s = *gSequenceSystem;
    ASSERT_EQ(s.GetSequenceCount(), 3u);
    EXPECT_TRUE(s.IsSequenceDisabled(2));
    EXPECT_TRUE(s.IsSequenceRepeatingAllowed(2));
    EXPECT_STREQ(s.GetActionName(0, 0, 2), "ToolScriptAction");
    EXPECT_EQ(s.GetIntParamValue(0, 0, 2, 1), 7);
    EXPECT_STREQ(s.GetStringParamValue(0, 0, 2, 3), "hi");
    EXPECT_FLOAT_EQ(s.GetFloatParamValue(0, 0, 2, 4), 0.5f);  // its "Time"
    ASSERT_NE(s.StartSequence("Intro", false, true), nullptr);
    Frame();  // raise, increase, then the script action follows its clock
    EXPECT_TRUE(SequenceSystem::SetHolds(s.GlobalSemaphores(), NameString("door")));
    EXPECT_EQ(s.GetCounter(NameString("n")), 2);
    Frame(0.6f);  // the wait is met, Outro starts (and finds the door raised)
    EXPECT_TRUE(s.FindSequence("Outro")->IsRunning() || log.Contains("Skipping sequence Yes"));
    Frame();
    EXPECT_EQ(s.GetRunningCount(), 0u);
    EXPECT_TRUE(log.Contains("Skipping sequence Yes (disabled in editor)."));
}
