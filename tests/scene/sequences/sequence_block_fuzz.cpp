// Arbitrary bytes read as a scene's sequence block, then every sequence started and ten
// frames ticked. Seeds are blocks the engine writes: every built-in action kind, a script
// action class, a skippable sequence with an after-skip hand-over.
#include <cstdint>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/BoundedReader.h"
#include "engine/TestGameServices.h"
#include "scene/sequences/LuaSequenceAction.h"
#include "scene/sequences/SequenceActions.h"
#include "scene/sequences/SequenceSystem.h"

namespace {

template <class T>
T* Add(SequenceTrack* t, float time = 0.0f) {
    auto* a = new T();
    a->time = time;
    t->actions.Add(a);
    return a;
}

std::vector<uint8_t> SeedBlock() {
    gSequenceSystem->Clear();
    auto* s = new Sequence();
    s->name = "Alpha";
    s->skippable = true;
    s->afterSkip = "Beta";
    auto* t = new SequenceTrack();
    s->tracks.Add(t);
    Add<SequenceActionRaiseSemaphore>(t)->semaphore = "a";
    Add<SequenceActionWaitForSemaphore>(t)->semaphore = "a";
    Add<SequenceActionIncreaseGlobalCountingSemaphore>(t)->semaphore = "c";
    Add<SequenceActionWaitForGlobalCountingSemaphoreToReach>(t)->semaphore = "c";
    Add<SequenceActionStartSequence>(t)->sequenceName = "Beta";
    Add<SequenceActionCheckGlobalSemaphore>(t)->ifYes = "Alpha";
    auto* t2 = new SequenceTrack();
    s->tracks.Add(t2);
    Add<SequenceActionRaiseGlobalSemaphore>(t2, 0.2f)->semaphore = "g";
    Add<SequenceActionStopSequence>(t2)->sequenceName = "Alpha";
    t2->actions.Add(static_cast<SequenceAction*>(NameRegistry::CreateObject("FuzzScriptAction")));
    gSequenceSystem->AddSequence(s);
    auto* beta = new Sequence();
    beta->name = "Beta";
    auto* t3 = new SequenceTrack();
    beta->tracks.Add(t3);
    Add<SequenceActionWaitForGlobalSemaphore>(t3)->semaphore = "g";
    Add<SequenceActionClearGlobalSemaphore>(t3)->semaphore = "g";
    gSequenceSystem->AddSequence(beta);
    std::vector<uint8_t> block(gSequenceSystem->SolidSerialize(nullptr, 0));
    gSequenceSystem->SolidSerialize(block.data(), 0);
    gSequenceSystem->Clear();
    return block;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    SequenceActionFactory& f = *gSequenceActionFactory;
    const int32_t c = f.RegisterLuaSequenceActionClass("FuzzScriptAction", "SequenceAction", false, nullptr);
    f.AddLuaSequenceActionParam(c, "Flag", "bool");
    f.AddLuaSequenceActionParam(c, "Text", "string");
    gSequenceSystem->Init(nullptr, true);
    return 0;
}

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const std::vector<uint8_t> block = SeedBlock();
    add(block.data(), block.size());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TestGameServices game;  // the Game's clocks
    BoundedReader in(data, size);
    ReadSequenceBlock(in);
    SequenceSystem& system = *gSequenceSystem;
    for (uint32_t i = 0; i < system.GetSequenceCount(); ++i)
        system.StartSequence(system.GetSequenceName(i), (i & 1) != 0, false);
    for (uint32_t i = 0; i < system.Running().Count(); ++i)
        if (system.Running()[i]) const_cast<Sequence*>(system.Running()[i])->RequestSkip();
    for (int frame = 0; frame < 10; ++frame) {
        game.gameTimer.Tick(0.1f);
        game.gameplayTimer.Tick(0.1f);
        system.Tick();
    }
    system.Clear();
    return 0;
}
