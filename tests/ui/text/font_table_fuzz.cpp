// Arbitrary bytes as "Fonts.Config", read through a mounted folder, then every
// definition's sizes looked up and named. The oracle: a table that does not read is
// empty; snapped sizes are sizes of the first definition of that font and outline, or
// the size asked for.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../../render/resources/FuzzFolder.h"
#include "ProgramStaticInit.h"
#include "core/rtti/SolidBlob.h"
#include "ui/text/FontNaming.h"
#include "ui/text/UIFontTable.h"

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    UIFontTable table;
    const char* fonts[] = {"_system.ttf", "menu.ttf", "_system.ttf"};
    for (uint32_t i = 0; i < 3; ++i) {
        UIFontDefinition& d = table.definitions[table.definitions.Add(UIFontDefinition{})];
        d.font = fonts[i];
        d.outlineWidth = i;
        for (uint8_t s : {uint8_t(12), uint8_t(16 + i), uint8_t(24)}) d.supportedSizes.Add(s);
    }
    std::vector<uint8_t> blob;
    SolidSerializeToBuffer(table, blob, 0);
    add(blob.data(), blob.size());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = resourcefuzz::MountedFolder("common");
    resourcefuzz::WriteInput(folder + "/Fonts.Config", data, size);
    const bool loaded = UIFontTable::Load();
    const UIFontTable& table = *gUIFontTable;
    if (!loaded && table.definitions.Count() != 0) std::abort();
    for (uint32_t i = 0; i < table.definitions.Count(); ++i) {
        const UIFontDefinition& d = table.definitions[i];
        for (uint32_t size : {0u, 9u, 20u, 255u, 1000u}) {
            float e = 1.0f;
            const uint32_t snapped = table.SnapSize(d.font.CStr(), d.outlineWidth, size, &e);
            // The first definition of that font and outline decides.
            const UIFontDefinition* first = table.Find(d.font.CStr(), d.outlineWidth);
            bool listed = snapped == size;
            for (uint32_t k = 0; first && k < first->supportedSizes.Count(); ++k)
                listed = listed || first->supportedSizes[k] == snapped;
            if (!first || !listed || e < 1.0f) std::abort();
            FontNameRequest request;
            request.fontName = d.font.CStr(), request.fontSize = size, request.outlineWidth = d.outlineWidth;
            FontNameResult result;
            ComputeFontName(request, &result);
        }
    }
    return 0;
}
