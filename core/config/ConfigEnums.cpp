#include "core/config/ConfigEnums.h"

#include "core/rtti/RTTIClass.h"

const char* const kLogFrameModeNames[] = {"Disabled", "Append to every line", "Only when changed", nullptr};
const char* const kLanguageNames[] = {"Polish",   "English",    "German", "French", "Italian",
                                      "Spanish",  "Japanese",   "Chinese", "Russian", "Portuguese",
                                      "Korean",   "",           "Default", nullptr};
const char* const kMSAAModeNames[] = {"None", "2X", "4X", nullptr};
const char* const kGFXQualityNames[] = {"Ultra low", "Low", "Medium", "High", "Very high", nullptr};
const char* const kSubtitleModeNames[] = {"Default", "On", "Off", nullptr};
const char* const kVisualizationModeNames[] = {"PC", "iPhone", "iPad2", nullptr};

static_assert(sizeof(kLanguageNames) / sizeof(kLanguageNames[0]) == kLanguageDefault + 2,
              "eleven languages, the empty name, \"Default\" and the terminator");

uint32_t LanguageIndexFromName(const char* name) {
    if (!name) return kLanguageNone;
    for (uint32_t i = 0; i < kLanguageCount; ++i)
        if (RTTIStricmp(name, kLanguageNames[i]) == 0) return i;
    return kLanguageNone;
}

const char* LanguageNameFromIndex(uint32_t index) { return index < kLanguageCount ? kLanguageNames[index] : ""; }
