#include "core/config/GameConfig.h"

#include <vector>

#include "core/Log.h"
#include "core/StaticInit.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/SolidBlob.h"

GameConfig* gGameConfig = nullptr;

namespace {
RTTIClass* gGameConfigClass = nullptr;
}

const RTTIClass* GameConfig::RegisterClass(const char* nameOverride) {
    if (gGameConfigClass) return gGameConfigClass;
    EngineConfig::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gGameConfigClass, nameOverride ? nameOverride : "GameConfig", "EngineConfig");
    c->SetScratchFactory([](int32_t) -> RTTIPolyBaseClass* { return new GameConfig; });
    AddDirect<uint32_t>(c, "Window width", RTTI_OFFSETOF(GameConfig, windowWidth));
    AddDirect<uint32_t>(c, "Window height", RTTI_OFFSETOF(GameConfig, windowHeight));
    AddDirect<bool>(c, "Use container files", RTTI_OFFSETOF(GameConfig, useContainerFiles));
    return c;
}

bool GameConfig::Load() {
    return LoadFromFile(kGameConfigFileName, kGameConfigFileExtension, kGameConfigDirectory, kGameConfigOptions);
}

namespace {
// True when the file already holds exactly these bytes.
bool FileHolds(const std::vector<uint8_t>& blob) {
    FileReader reader(kGameConfigFileName, kGameConfigFileExtension, kGameConfigDirectory);
    if (!reader.IsOpen() || reader.GetSize() != blob.size()) return false;
    std::vector<uint8_t> bytes(blob.size());
    return reader.Read(bytes.data(), static_cast<uint32_t>(bytes.size())) && bytes == blob;
}
}  // namespace

bool GameConfig::Save() const {
    // The window's size events save the settings more than once with nothing changed;
    // the file is rewritten only when its bytes would differ.
    std::vector<uint8_t> blob;
    SolidSerializeToBuffer(*this, blob, kGameConfigOptions);
    if (FileHolds(blob)) {
        // No write, but a save killed in an earlier run may have left its temporary.
        char path[fs::kMaxPath];
        if (gFileSystem.GetPhysicalPath(kGameConfigFileName, kGameConfigFileExtension, kGameConfigDirectory, path,
                                        sizeof path))
            RemoveStaleSaveTemporaries(path);
        return true;
    }
    if (SaveToFile(kGameConfigFileName, kGameConfigFileExtension, kGameConfigDirectory, kGameConfigOptions)) return true;
    gLog.Error(LogCategory::Engine, "GameConfig::Save - the settings could not be saved to %s/%s.%s", kGameConfigDirectory,
               kGameConfigFileName, kGameConfigFileExtension);
    return false;
}
