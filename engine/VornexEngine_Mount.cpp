// The engine's mount points: the user folders and the data kinds, as folders or as
// container sets.
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/PathLimit.h"
#include "core/config/GameConfig.h"
#include "core/fs/FileSystem.h"
#include "engine/services/EngineCore.h"
#include "engine/VornexEngine.h"
#include "platform/os/Paths.h"

namespace {

// Indexed by data kind (the mask bit); the mount name is also the folder or container
// file name.
const char* const kDataKindNames[kDataKindCount] = {"animations", "common", "scenes", "sounds",
                                                    "templates",  "voices", "videos", "textures"};

// The folder of the project's per-title user data, below "user".
constexpr const char* kProjectFolder = "Brintavolque";

// Bits 8-10 name kinds that are never mounted here.
constexpr uint32_t kUnmountedKindBits = 0x700u;

// One container set to mount: under which name, from which file kind; an optional
// record's failure is not an error; records of a group (0 or more) after the first
// success of that group are skipped.
struct ContainerRecord {
    uint32_t mountKind;
    uint32_t fileKind;
    bool optional;
    int32_t group;
};

// Resolves "." and ".." components of an absolute '/'-separated path in place; ".."
// above the root stays at the root.
void NormalisePath(char* path) {
    char out[fs::kMaxPath];
    size_t n = 0;
    const char* p = path;
    while (*p) {
        while (*p == '/') ++p;
        const char* start = p;
        while (*p && *p != '/') ++p;
        const size_t length = static_cast<size_t>(p - start);
        if (length == 0 || (length == 1 && start[0] == '.')) continue;
        if (length == 2 && start[0] == '.' && start[1] == '.') {
            while (n > 0 && out[n - 1] != '/') --n;
            if (n > 0) --n;
            continue;
        }
        if (n + 1 + length >= sizeof out) break;
        out[n++] = '/';
        std::memcpy(out + n, start, length);
        n += length;
    }
    if (n == 0) out[n++] = '/';
    out[n] = 0;
    std::memcpy(path, out, n + 1);
}

}  // namespace

bool VornexEngine::DataDirectory(char* buffer, uint32_t size) const {
    const char* repository = configuration ? configuration->repositoryPath : nullptr;
    const char* executable = GetExecutableDirectory();
    int n;
    if (!repository || !repository[0]) {
        n = std::snprintf(buffer, size, "%s", executable);
    } else if (repository[0] == '/' || FileSystem::IsAbsolutePath(repository)) {
        n = std::snprintf(buffer, size, "%s", repository);
    } else {
        n = std::snprintf(buffer, size, "%s/%s", executable, repository);
        if (n > 0 && static_cast<uint32_t>(n) < size) {
            for (char* c = buffer; *c; ++c)
                if (*c == '\\') *c = '/';
            NormalisePath(buffer);
        }
    }
    if (n < 0 || static_cast<uint32_t>(n) >= size) {
        gLog.Error(LogCategory::Engine, "The data directory does not fit a path: %s", repository ? repository : "");
        buffer[0] = 0;
        return false;
    }
    return true;
}

bool VornexEngine::MountData(uint32_t mask) {
    mask &= ~kUnmountedKindBits;
    mountFailure[0] = 0;
    char dataDirectory[fs::kMaxPath];
    if (!DataDirectory(dataDirectory, sizeof dataDirectory)) return false;
    if (configuration && configuration->GetUseContainerFiles()) return MountDataContainers(dataDirectory, mask);
    return MountDataFolders(dataDirectory, mask);
}

bool VornexEngine::MountDataFolders(const char* dataDirectory, uint32_t mask) {
    bool result = true;
    for (uint32_t kind = 0; kind < kDataKindCount; ++kind) {
        if (!(mask & (1u << kind))) continue;
        char folder[fs::kMaxPath];
        const int n = std::snprintf(folder, sizeof folder, "%s/%s", dataDirectory, kDataKindNames[kind]);
        if (n < 0 || static_cast<uint32_t>(n) >= sizeof folder || !gFileSystem.MountDirectory(kDataKindNames[kind], folder)) {
            if (result)
                std::snprintf(mountFailure, sizeof mountFailure, "the data folder %s cannot be mounted (missing?)",
                              folder);
            result = false;
        }
    }
    return result;
}

bool VornexEngine::MountDataContainers(const char* dataDirectory, uint32_t mask) {
    ContainerRecord records[kDataKindCount];
    for (uint32_t kind = 0; kind < kDataKindCount; ++kind) records[kind] = {kind, kind, false, -1};
    bool result = true;
    uint32_t mountedGroups = 0;
    for (const ContainerRecord& record : records) {
        if (!(mask & (1u << record.mountKind))) continue;
        if (record.group >= 0 && record.group < 32 && (mountedGroups & (1u << record.group))) continue;
        char base[fs::kMaxPath];
        const int n = std::snprintf(base, sizeof base, "%s/%s.dat", dataDirectory, kDataKindNames[record.fileKind]);
        const bool mounted = n >= 0 && static_cast<uint32_t>(n) < sizeof base &&
                             gFileSystem.MountContainer(kDataKindNames[record.mountKind], base, record.fileKind,
                                                        kContainerHashSeed, kContainerExtraFiles);
        if (!mounted) {
            if (!record.optional && result)
                std::snprintf(mountFailure, sizeof mountFailure,
                              "the data file %s cannot be mounted (missing or damaged)", base);
            if (!record.optional) result = false;
        } else if (record.group >= 0 && record.group < 32) {
            mountedGroups |= 1u << record.group;
        }
    }
    return result;
}

bool VornexEngine::MountUserFolders() {
    char userFolder[fs::kMaxPath];
    if (!os::GetUserDataFolder(userFolder, sizeof userFolder)) return false;
    // The folder is made when missing (with its parents), as on a new account.
    gFileSystem.CreateDirectory(userFolder, nullptr);
    if (!gFileSystem.MountDirectory("user", userFolder)) return false;
    char relative[fs::kMaxPath];
    const int n = std::snprintf(relative, sizeof relative, "%s/%s", kProjectFolder, Title());
    if (n < 0 || static_cast<uint32_t>(n) >= sizeof relative) return false;
    gFileSystem.CreateDirectory(relative, "user");
    char projectFolder[fs::kMaxPath];
    if (!gFileSystem.GetPhysicalPath(relative, nullptr, "user", projectFolder, sizeof projectFolder)) return false;
    return gFileSystem.MountDirectory("project", projectFolder);
}
