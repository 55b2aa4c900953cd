#include "render/resources/ResourceAnimation.h"

#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "render/resources/ResourceManager.h"

namespace {
constexpr const char* kAnimationDirectory = "Animations";
constexpr const char* kAnimationExtension = "bin";
}  // namespace

void ResourceAnimation::PreheatResource() {
    if (GetName()) gFileSystem.SetPreheatFile(GetName(), kAnimationExtension, kAnimationDirectory, 0);
}

bool ResourceAnimation::LoadResource() {
    clip.Clear();
    FileReader reader;
    if (!GetName() || !reader.Open(GetName(), kAnimationExtension, kAnimationDirectory)) return false;
    gResourceManager.PreheatReadAheadResource();
    uint32_t magic = 0, version = 0;
    if (!reader.Read(&magic, sizeof magic) || !reader.Read(&version, sizeof version)) return false;
    if (magic != kAnimationFileMagic || version != kAnimationFileVersion) return false;
    if (!reader.Read(header, sizeof header)) return false;
    if (!clip.Read(reader)) return false;
    size = reader.GetSize();
    return true;
}
