#pragma once
// Enumeration tables of the configuration classes. An enumeration property carries
// flag 0x80 and one of these null-terminated name tables as its extra word; the
// value stored (in memory and in files) is the index into the table.
#include <cstdint>

// Languages: 0..10 the eleven languages, 11 the empty name (no language), 12 "Default".
constexpr uint32_t kLanguageCount = 11;
constexpr uint32_t kLanguageNone = 11;
constexpr uint32_t kLanguageDefault = 12;
constexpr uint32_t kLanguageEnglish = 1;

extern const char* const kLogFrameModeNames[];     // "Disabled", ...
extern const char* const kLanguageNames[];         // 13 names
extern const char* const kMSAAModeNames[];         // "None", "2X", "4X"
extern const char* const kGFXQualityNames[];       // "Ultra low" .. "Very high"
extern const char* const kSubtitleModeNames[];     // project: "Default", "On", "Off"
extern const char* const kVisualizationModeNames[];  // "PC", "iPhone", "iPad2"

// Index of one of the eleven language names (case-insensitive); kLanguageNone for
// null, the empty name, "Default" or any other text.
uint32_t LanguageIndexFromName(const char* name);
// The language's name; "" for kLanguageNone and above (the index 12 "Default" too,
// as the font-replacement record reads it).
const char* LanguageNameFromIndex(uint32_t index);
