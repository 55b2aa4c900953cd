#include "ui/text/UIFontTable.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/Log.h"
#include "core/fs/FileReader.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/SolidFile.h"

UIFontTable* gUIFontTable = nullptr;

namespace {
RTTIClass* gDefinitionClass = nullptr;
RTTIClass* gTableClass = nullptr;
}  // namespace

const RTTIClass* UIFontDefinition::RegisterClass() {
    if (gDefinitionClass) return gDefinitionClass;
    RTTIClass* c = CreateRegisteredClass(gDefinitionClass, "UIFontDefinition", kRTTIRootBaseName);
    c->AddProperty(new RTTIDirectAccessTypedProperty<NameString>("Font", RTTI_OFFSETOF(UIFontDefinition, font)));
    c->AddProperty(
        new RTTIDirectAccessTypedProperty<uint32_t>("Outline width", RTTI_OFFSETOF(UIFontDefinition, outlineWidth)));
    c->AddProperty(new RTTIDynarrayProperty<DynarraySafe<uint8_t>>("Supported sizes",
                                                                   RTTI_OFFSETOF(UIFontDefinition, supportedSizes)));
    return c;
}

const RTTIClass* UIFontTable::RegisterClass() {
    if (gTableClass) return gTableClass;
    const RTTIClass* definition = UIFontDefinition::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gTableClass, "UIFontTable", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new UIFontTable; });
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<UIFontDefinition>>(
        "Font definitions", RTTI_OFFSETOF(UIFontTable, definitions), definition));
    return c;
}

UIFontTable::~UIFontTable() {
    gLog.Print(LogSeverity::Information, LogCategory::UI, "UIFontTable destruct");
    Free();
}

void UIFontTable::Free() { definitions.Clear(); }

bool UIFontTable::Load() {
    if (!gUIFontTable) return false;
    gUIFontTable->Free();
    FileReader reader("Fonts.Config", nullptr, "Common");
    if (!reader.IsOpen()) return false;
    if (SolidDeserializeFromFileReader(*gUIFontTable, reader, 0, "Fonts.Config")) return true;
    gUIFontTable->Free();  // a table that did not read whole is not used
    return false;
}

const UIFontDefinition* UIFontTable::Find(const char* font, uint32_t outlineWidth) const {
    if (!font) return nullptr;
    for (uint32_t i = 0; i < definitions.Count(); ++i) {
        const UIFontDefinition& d = definitions[i];
        if (d.outlineWidth == outlineWidth && std::strcmp(d.font.CStr(), font) == 0) return &d;
    }
    return nullptr;
}

uint32_t UIFontTable::SnapSize(const char* font, uint32_t outlineWidth, uint32_t size, float* extraScale) const {
    const UIFontDefinition* d = Find(font, outlineWidth);
    if (!d || d->supportedSizes.Count() == 0) return size;
    const uint8_t* first = &d->supportedSizes[0];
    const uint8_t* last = first + d->supportedSizes.Count();
    const uint8_t* above = std::upper_bound(first, last, size, [](uint32_t s, uint8_t v) { return s < v; });
    if (above == first) return size;  // below every listed size
    const uint32_t snapped = above[-1];
    if (above == last && size > snapped && snapped > 0 && extraScale)
        *extraScale *= std::floor(float(size) / float(snapped));
    return snapped;
}
