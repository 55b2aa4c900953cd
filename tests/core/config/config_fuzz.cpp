// Arbitrary bytes loaded as a saved GameConfig ("config.bin", option 16, or without
// the check for the payload walk) or as a "Project.ConfigBin" ProjectConfig blob.
// Whatever loads must write, load again and use its lists without fault.
#include <cstdint>
#include <vector>

#include "core/config/CoreStaticInit.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/SolidBlob.h"

namespace {

template <class T>
void LoadAndReuse(const uint8_t* data, size_t size, uint32_t options) {
    T o;
    SolidDeserializeFromBuffer(o, data, size, options);
    std::vector<uint8_t> again;
    SolidSerializeToBuffer(o, again, options);
    T p;
    SolidDeserializeFromBuffer(p, again.data(), again.size(), options);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    if (mode == 2) {
        LoadAndReuse<ProjectConfig>(data, size, 0);
        return 0;
    }
    GameConfig g;
    SolidDeserializeFromBuffer(g, data, size, mode == 0 ? kGameConfigOptions : 0);
    g.BindKey(5, "x");
    g.GetKeyBindCommand(7);
    g.consoleHistory.AddUnique("line");
    g.SetPrimaryControl(kControlSetMouse, 2, 1);
    std::vector<uint8_t> again;
    SolidSerializeToBuffer(g, again, 0);
    GameConfig back;
    SolidDeserializeFromBuffer(back, again.data(), again.size(), 0);
    return 0;
}

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    GameConfig g;
    g.BindKey(59, "toggleconsole");
    g.consoleHistory.AddUnique("help");
    g.SetSecondaryControl(kControlSetKeyboard, 3, 44);
    ProjectConfig p;
    p.fontReplacements.Resize(2);
    p.fontReplacements[0].SetOriginal("Arial");
    for (uint8_t mode : {0, 1, 2}) {
        std::vector<uint8_t> seed{mode};
        if (mode == 2) SolidSerializeToBuffer(p, seed, 0);
        else SolidSerializeToBuffer(g, seed, mode == 0 ? kGameConfigOptions : 0);
        add(seed.data(), seed.size());
    }
}
