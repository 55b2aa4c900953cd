#pragma once
// GameConfig : EngineConfig — the game's saved settings: "Window width" u32 800,
// "Window height" u32 500, "Use container files" bool true.
//
// One process-wide object, gGameConfig, is built by the start-up table (module 13)
// and destroyed at shutdown. It is saved to and loaded from "config.bin" in the
// "project" mount as a Solid blob with option 16, so a file written by another
// class layout is rejected by its check value and the settings keep their values.
//
// Threads: main thread.
#include <cstdint>

#include "core/config/EngineConfig.h"

class GameConfig : public EngineConfig {
public:
    GameConfig() = default;

    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // Reads "config.bin" from the "project" mount (Solid blob, option 16). False when
    // the file is missing, was written by another class layout or is damaged; the
    // values are then unchanged (the class reads through a scratch object).
    bool Load();
    // Writes "config.bin" through a temporary file renamed over the old one; false,
    // with one log line, when the file did not reach its place (the old one stays).
    // A file that already holds the same bytes is left as it is (true).
    bool Save() const;

    bool GetUseContainerFiles() const override { return useContainerFiles; }
    bool IsStandaloneBuild() const override { return true; }

    uint32_t windowWidth = 800;
    uint32_t windowHeight = 500;
    bool useContainerFiles = true;
};

// "config.bin" in the "project" mount, a Solid blob with check value and CRC.
constexpr const char* kGameConfigFileName = "config";
constexpr const char* kGameConfigFileExtension = "bin";
constexpr const char* kGameConfigDirectory = "project";
constexpr uint32_t kGameConfigOptions = 16;

extern GameConfig* gGameConfig;
