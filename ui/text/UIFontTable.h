#pragma once
// The font table ("Fonts.Config" in "Common", a Solid blob): which pixel sizes exist of
// each font and outline width. Text elements snap a requested size to one of them.
//
// Threads: loaded once at engine start-up, read by the main thread's font naming.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

// One font (plain record, class "UIFontDefinition").
struct UIFontDefinition {
    NameString font;                       // "Font": the name text elements use
    uint32_t outlineWidth = 0;             // "Outline width"
    DynarraySafe<uint8_t> supportedSizes;  // "Supported sizes", ascending

    static const RTTIClass* RegisterClass();
};

class UIFontTable : public RTTIPolyBaseClass {
public:
    UIFontTable() = default;
    // Logs "UIFontTable destruct" and frees the definitions.
    ~UIFontTable() override;
    UIFontTable(const UIFontTable&) = delete;
    UIFontTable& operator=(const UIFontTable&) = delete;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // Reads "Fonts.Config" from "Common" into gUIFontTable; a missing or unreadable file
    // leaves the table empty (false).
    static bool Load();
    // Frees the definitions (engine shutdown).
    void Free();

    // The first definition of that font and outline width, or null.
    const UIFontDefinition* Find(const char* font, uint32_t outlineWidth) const;
    // Snaps a size to the definition's sizes: the largest listed size not above it; a
    // size above all of them becomes the largest and multiplies *extraScale by
    // floor(size / largest); a size below all of them, or a font without a definition
    // or sizes, stays.
    uint32_t SnapSize(const char* font, uint32_t outlineWidth, uint32_t size, float* extraScale) const;

    DynarraySafe<UIFontDefinition> definitions;  // "Font definitions"
};

// Built by the UI's start-up table.
extern UIFontTable* gUIFontTable;
