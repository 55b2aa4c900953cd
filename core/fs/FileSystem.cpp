// The virtual file system.
//
// gFileSystem keeps a name-sorted array of mount points behind one recursive lock.
// Every public operation composes its path (ComposePath), then either works on the
// machine directly (absolute paths) or hands the rest of the path, after the mount
// name, to the mount point. Container mount points (FileSystemContainer.cpp) read
// through the PhysicalFileReader worker; folder mounts open local or CRC streams.
//
// Preheating: a loader that knows its next file announces it (SetPreheatFile); the
// container stream that issues its last read-ahead calls PreheatNextStream, which opens
// the announced file at once so that its reads overlap the current file's decoding.
// The next OpenInputStream of exactly that path takes the held stream.
#include "core/fs/FileSystem.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/fs/FileSystemContainer.h"
#include "core/fs/FsUtil.h"
#include "core/fs/PhysicalFileReader.h"
#include "platform/os/File.h"
#include "platform/os/Paths.h"

namespace {
alignas(FileSystem) unsigned char gFileSystemStorage[sizeof(FileSystem)];
}
FileSystem& gFileSystem = *reinterpret_cast<FileSystem*>(gFileSystemStorage);

void CreateGlobalFileSystem() { new (gFileSystemStorage) FileSystem; }
void DestroyGlobalFileSystem() { gFileSystem.~FileSystem(); }

namespace {

inline bool IsStripChar(char c) { return c == '\\' || c == '/' || c == '.'; }

// Appends text when it fits below limit; false otherwise.
bool Append(char* buffer, uint32_t& length, uint32_t limit, const char* text, size_t n) {
    if (uint64_t(length) + n + 1 > limit) return false;
    std::memcpy(buffer + length, text, n);
    length += static_cast<uint32_t>(n);
    buffer[length] = 0;
    return true;
}

void StripTrailing(char* buffer, uint32_t& length) {
    while (length > 0 && IsStripChar(buffer[length - 1])) buffer[--length] = 0;
}

// True when path equals folder or lies below it.
bool IsUnder(const char* path, const char* folder) {
    const size_t n = std::strlen(folder);
    if (n < 2 || std::strncmp(path, folder, n) != 0) return false;
    return path[n] == 0 || path[n] == '/';
}

class LocalDirectoryIterator : public FileSystemDirectoryIteratorInternals {
public:
    LocalDirectoryIterator(const char* directory, const char* pattern) { iterator.Open(directory, pattern ? pattern : "*"); }
    const char* GetName() const override { return iterator.Valid() ? iterator.Name() : nullptr; }
    bool IsDirectory() const override { return iterator.Valid() && iterator.IsDirectory(); }
    bool Step(char* buffer, uint32_t size) override {
        if (!iterator.Valid()) return false;
        fs::CopyBounded(buffer, size, iterator.Name());
        iterator.Next();
        return true;
    }

private:
    os::DirectoryIterator iterator;
};

// Deletes a folder and everything below it, clearing read-only bits on the way. True
// when the folder itself is gone and every entry was deleted. A symbolic link is
// removed itself: nothing it points to outside the tree is touched.
bool DeleteTree(const std::string& directory) {
    if (os::IsSymbolicLink(directory.c_str())) return os::DeleteFile(directory.c_str());
    os::SetReadOnly(directory.c_str(), false);
    std::vector<std::pair<std::string, bool>> entries;
    {
        os::DirectoryIterator it;
        for (bool ok = it.Open(directory.c_str(), "*"); ok; ok = it.Next()) {
            if (std::strcmp(it.Name(), ".") == 0 || std::strcmp(it.Name(), "..") == 0) continue;
            entries.emplace_back(it.Name(), it.IsDirectory());
        }
    }
    bool all = true;
    for (const auto& [entry, isDirectory] : entries) {
        const std::string full = directory + "/" + entry;
        if (isDirectory) {
            all = DeleteTree(full) && all;
        } else if (os::IsSymbolicLink(full.c_str())) {
            all = os::DeleteFile(full.c_str()) && all;
        } else {
            os::SetReadOnly(full.c_str(), false);
            all = os::DeleteFile(full.c_str()) && all;
        }
    }
    return os::RemoveDirectory(directory.c_str()) && all;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Mount points

FileSystemMountPoint::FileSystemMountPoint(const char* mountName) : name(fs::CopyText(mountName ? mountName : "")) {}

FileSystemMountPoint::~FileSystemMountPoint() { EngineFree(name); }

struct FileSystemDirectoryMountPoint::Cache {
    // Lower-case mount path of a folder -> its machine path. Entries are checked when
    // used, so a folder removed or renamed behind the cache's back is looked up again.
    std::unordered_map<std::string, std::string> folders;
};

FileSystemDirectoryMountPoint::FileSystemDirectoryMountPoint(const char* mountName, const char* directoryPath)
    : FileSystemMountPoint(mountName), cache(new Cache) {
    directory = fs::CopyText(directoryPath ? directoryPath : "");
    if (!directory) return;
    for (char* p = directory; *p; ++p)
        if (*p == '\\') *p = '/';
    size_t n = std::strlen(directory);
    while (n > 1 && directory[n - 1] == '/') directory[--n] = 0;
    valid = n > 0 && os::IsDirectory(directory);
}

FileSystemDirectoryMountPoint::~FileSystemDirectoryMountPoint() {
    EngineFree(directory);
    delete cache;
}

bool FileSystemDirectoryMountPoint::Resolve(const char* path, char* buffer, uint32_t size) {
    if (!directory) return false;
    std::string rest = path ? path : "";
    std::replace(rest.begin(), rest.end(), '\\', '/');
    const std::string base = directory;
    std::string direct = base;
    if (!rest.empty()) {
        if (rest[0] != '/') direct += '/';
        direct += rest;
    }
    if (os::GetPathKind(direct.c_str()) != os::PathKind::Missing) return fs::CopyBounded(buffer, size, direct.c_str());

    // Component by component: an exact name first, then a case-insensitive match among
    // the folder's entries; the first component that matches nothing and all after it
    // keep their spelling.
    std::vector<std::string> parts;
    for (size_t at = 0; at <= rest.size();) {
        size_t end = rest.find('/', at);
        if (end == std::string::npos) end = rest.size();
        if (end > at) parts.push_back(rest.substr(at, end - at));
        at = end + 1;
    }
    std::string current = base;
    std::string key;
    size_t i = 0;
    for (; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        const bool last = i + 1 == parts.size();
        key += '/';
        for (char c : part) key += static_cast<char>(fs::FoldAscii(static_cast<unsigned char>(c)));
        if (!last) {
            auto hit = cache->folders.find(key);
            if (hit != cache->folders.end()) {
                if (os::IsDirectory(hit->second.c_str())) {
                    current = hit->second;
                    continue;
                }
                cache->folders.erase(hit);
            }
        }
        std::string candidate = current + "/" + part;
        if (os::GetPathKind(candidate.c_str()) == os::PathKind::Missing) {
            os::DirectoryIterator it;
            bool found = false;
            for (bool ok = it.Open(current.c_str(), "*"); ok; ok = it.Next()) {
                if (fs::CompareNoCase(it.Name(), part.c_str()) == 0) {
                    candidate = current + "/" + it.Name();
                    found = true;
                    break;
                }
            }
            if (!found) break;
        }
        current = candidate;
        if (!last && os::IsDirectory(current.c_str())) {
            if (cache->folders.size() >= 4096) cache->folders.clear();
            cache->folders[key] = current;
        }
    }
    for (; i < parts.size(); ++i) current += "/" + parts[i];
    if (!rest.empty() && rest.back() == '/' && parts.size()) current += '/';
    return fs::CopyBounded(buffer, size, current.c_str());
}

bool FileSystemDirectoryMountPoint::FileExists(const char* path) {
    char physical[4096];
    return Resolve(path, physical, sizeof physical) && os::IsRegularFile(physical);
}

bool FileSystemDirectoryMountPoint::DirectoryExists(const char* path) {
    char physical[4096];
    return Resolve(path, physical, sizeof physical) && os::IsDirectory(physical);
}

FileSystemInputStream* FileSystemDirectoryMountPoint::OpenInputStream(const char* path, uint32_t flags) {
    char physical[4096];
    if (!Resolve(path, physical, sizeof physical)) return nullptr;
    if (flags & FILE_OPEN_WHOLE_FILE_CRC) return new FileSystemWholeFileCRCInputStream(physical);
    return new FileSystemLocalFileInputStream(physical);
}

FileSystemOutputStream* FileSystemDirectoryMountPoint::OpenOutputStream(const char* path, uint32_t flags) {
    char physical[4096];
    if (!Resolve(path, physical, sizeof physical)) return nullptr;
    if (flags & FILE_OPEN_WHOLE_FILE_CRC) return new FileSystemWholeFileCRCOutputStream(physical);
    return new FileSystemLocalFileOutputStream(physical);
}

FileSystemDirectoryIteratorInternals* FileSystemDirectoryMountPoint::CreateIterator(const char* path, const char* pattern) {
    char physical[4096];
    if (!Resolve(path, physical, sizeof physical)) return nullptr;
    return new LocalDirectoryIterator(physical, pattern);
}

bool FileSystemDirectoryMountPoint::GetPhysicalPath(const char* path, char* buffer, uint32_t size) {
    return Resolve(path, buffer, size);
}

// ---------------------------------------------------------------------------------------
// Iterator

FileSystemDirectoryIterator::FileSystemDirectoryIterator(const char* path, const char* pattern) {
    if (!path) return;
    CriticalSectionGuard guard(&gFileSystem.Lock());
    char composed[fs::kMaxPath];
    if (!FileSystem::ComposePath(composed, sizeof composed, path, nullptr, nullptr)) return;
    if (FileSystem::IsAbsolutePath(composed)) {
        internals = new LocalDirectoryIterator(composed, pattern);
        return;
    }
    const char* rest = nullptr;
    if (FileSystemMountPoint* mountPoint = gFileSystem.FindMountPoint(composed, &rest))
        internals = mountPoint->CreateIterator(rest, pattern ? pattern : "*");
}

FileSystemDirectoryIterator::~FileSystemDirectoryIterator() { delete internals; }

const char* FileSystemDirectoryIterator::GetName() const { return internals ? internals->GetName() : nullptr; }
bool FileSystemDirectoryIterator::IsDirectory() const { return internals && internals->IsDirectory(); }
bool FileSystemDirectoryIterator::Step(char* buffer, uint32_t size) { return internals && internals->Step(buffer, size); }

// ---------------------------------------------------------------------------------------
// FileSystem

FileSystem::FileSystem(PhysicalFileReader* physicalReader) : reader(physicalReader ? physicalReader : &gPhysicalFileReader) {}

FileSystem::~FileSystem() { UnmountAll(); }

// Composing: the directory without trailing '\', '/' and '.'; then the name without its
// leading separators and dots (only its leading dots when nothing came before), joined
// with '/', again without trailing separators and dots; then '.' and the extension when
// it holds more than separators and dots; finally every '\' becomes '/'.
bool FileSystem::ComposePath(char* buffer, uint32_t size, const char* name, const char* extension, const char* directory) {
    if (!buffer || size == 0) return false;
    const uint32_t limit = size < fs::kMaxPath ? size : fs::kMaxPath;
    uint32_t length = 0;
    buffer[0] = 0;
    bool ok = true;
    if (directory) {
        ok = Append(buffer, length, limit, directory, std::strlen(directory));
        StripTrailing(buffer, length);
    }
    if (ok && name) {
        const char* p = name;
        if (length) {
            while (IsStripChar(*p)) ++p;
        } else {
            while (*p == '.') ++p;
        }
        if (*p) {
            if (length) ok = Append(buffer, length, limit, "/", 1);
            ok = ok && Append(buffer, length, limit, p, std::strlen(p));
            StripTrailing(buffer, length);
        }
    }
    if (ok && extension) {
        const char* p = extension;
        while (IsStripChar(*p)) ++p;
        if (*p) ok = Append(buffer, length, limit, ".", 1) && Append(buffer, length, limit, extension, std::strlen(extension));
    }
    if (!ok) {
        buffer[0] = 0;
        return false;
    }
    for (char* c = buffer; *c; ++c)
        if (*c == '\\') *c = '/';
    return true;
}

bool FileSystem::IsAbsolutePath(const char* path) {
    if (!path || !path[0]) return false;
    if (path[0] == '/' && path[1] == '/') return true;
    const char c = path[0];
    if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && path[1] == ':') return true;
    if (path[0] != '/') return false;
    char folder[4096];
    if (os::GetUserDataFolder(folder, sizeof folder) && IsUnder(path, folder)) return true;
    if (os::GetExecutableFolder(folder, sizeof folder) && IsUnder(path, folder)) return true;
    return false;
}

FileSystemMountPoint* FileSystem::FindMountPoint(const char* path, const char** rest) {
    if (rest) *rest = nullptr;
    if (!path) return nullptr;
    const char* slash = std::strchr(path, '/');
    const size_t n = slash ? static_cast<size_t>(slash - path) : std::strlen(path);
    if (n == 0 || n >= fs::kMaxPath) return nullptr;
    char mountName[fs::kMaxPath];
    std::memcpy(mountName, path, n);
    mountName[n] = 0;
    CriticalSectionGuard guard(&lock);
    auto it = std::lower_bound(mountPoints.begin(), mountPoints.end(), mountName,
                               [](FileSystemMountPoint* m, const char* key) { return fs::CompareNoCase(m->GetName(), key) < 0; });
    if (it == mountPoints.end() || fs::CompareNoCase((*it)->GetName(), mountName) != 0) return nullptr;
    if (rest) *rest = path + n;
    return *it;
}

void FileSystem::InsertMountPoint(FileSystemMountPoint* mountPoint) {
    auto it = std::lower_bound(mountPoints.begin(), mountPoints.end(), mountPoint, [](FileSystemMountPoint* a, FileSystemMountPoint* b) {
        return fs::CompareNoCase(a->GetName(), b->GetName()) < 0;
    });
    mountPoints.insert(it, mountPoint);
}

FileSystemInputStream* FileSystem::OpenInputStream(const char* name, const char* extension, const char* directory, uint32_t flags) {
    CriticalSectionGuard guard(&lock);
    char path[fs::kMaxPath];
    if (!ComposePath(path, sizeof path, name, extension, directory)) return nullptr;
    // The announced file opened before anything preheated it: a stream preheated now
    // would never be taken.
    if (preheatRequest[0] && fs::CompareNoCase(path, preheatRequest) == 0) preheatRequest[0] = 0;
    if (preheated && preheatedName[0]) {
        if (fs::CompareNoCase(path, preheatedName) == 0) {
            FileSystemInputStream* stream = preheated;
            preheated = nullptr;
            preheatedName[0] = 0;
            return stream;
        }
        gLog.Error(LogCategory::Engine, "Preheated stream conflict. Serious performance degradation occured! Expected: %s, got: %s", preheatedName, path);
    }
    FileSystemInputStream* stream = nullptr;
    if (IsAbsolutePath(path)) {
        if (flags & FILE_OPEN_WHOLE_FILE_CRC)
            stream = new FileSystemWholeFileCRCInputStream(path);
        else
            stream = new FileSystemLocalFileInputStream(path);
    } else {
        const char* rest = nullptr;
        FileSystemMountPoint* mountPoint = FindMountPoint(path, &rest);
        if (!mountPoint) return nullptr;
        stream = mountPoint->OpenInputStream(rest, flags);
    }
    if (stream && !stream->IsOpen()) {
        delete stream;
        stream = nullptr;
    }
    return stream;
}

FileSystemOutputStream* FileSystem::OpenOutputStream(const char* name, const char* extension, const char* directory, uint32_t flags) {
    CriticalSectionGuard guard(&lock);
    char path[fs::kMaxPath];
    if (!ComposePath(path, sizeof path, name, extension, directory)) return nullptr;
    FileSystemOutputStream* stream = nullptr;
    if (IsAbsolutePath(path)) {
        if (flags & FILE_OPEN_WHOLE_FILE_CRC)
            stream = new FileSystemWholeFileCRCOutputStream(path);
        else
            stream = new FileSystemLocalFileOutputStream(path);
    } else {
        const char* rest = nullptr;
        FileSystemMountPoint* mountPoint = FindMountPoint(path, &rest);
        if (!mountPoint) return nullptr;
        stream = mountPoint->OpenOutputStream(rest, flags);
    }
    if (stream && !stream->IsOpen()) {
        delete stream;
        stream = nullptr;
    }
    return stream;
}

bool FileSystem::FileExists(const char* name, const char* extension, const char* directory) {
    CriticalSectionGuard guard(&lock);
    char path[fs::kMaxPath];
    if (!ComposePath(path, sizeof path, name, extension, directory)) return false;
    if (IsAbsolutePath(path)) return os::IsRegularFile(path);
    const char* rest = nullptr;
    FileSystemMountPoint* mountPoint = FindMountPoint(path, &rest);
    return mountPoint && mountPoint->FileExists(rest);
}

bool FileSystem::GetPhysicalPath(const char* name, const char* extension, const char* directory, char* buffer, uint32_t size) {
    CriticalSectionGuard guard(&lock);
    char path[fs::kMaxPath];
    if (!ComposePath(path, sizeof path, name, extension, directory)) return false;
    if (IsAbsolutePath(path)) return fs::CopyBounded(buffer, size, path);
    const char* rest = nullptr;
    FileSystemMountPoint* mountPoint = FindMountPoint(path, &rest);
    return mountPoint && mountPoint->GetPhysicalPath(rest, buffer, size);
}

bool FileSystem::Delete(const char* name, const char* extension, const char* directory, bool recursive) {
    CriticalSectionGuard guard(&lock);
    char physical[4096];
    if (!GetPhysicalPath(name, extension, directory, physical, sizeof physical)) return false;
    switch (os::GetPathKind(physical)) {
    case os::PathKind::Missing:
        return false;
    case os::PathKind::Directory:
        return recursive && DeleteTree(physical);
    default:
        return os::DeleteFile(physical);
    }
}

bool FileSystem::CreateDirectory(const char* path, const char* directory) {
    CriticalSectionGuard guard(&lock);
    char physical[4096];
    if (!GetPhysicalPath(path, nullptr, directory, physical, sizeof physical)) return false;
    const size_t n = std::strlen(physical);
    bool created = false;
    for (size_t i = 1; i <= n; ++i) {
        if (i < n && physical[i] != '/') continue;
        const char saved = physical[i];
        physical[i] = 0;
        const os::PathKind kind = os::GetPathKind(physical);
        bool ok = true;
        if (kind == os::PathKind::Missing) {
            ok = os::MakeDirectory(physical);
            created = created || ok;
        } else if (kind != os::PathKind::Directory) {
            ok = false;
        }
        physical[i] = saved;
        if (!ok) return false;
    }
    return created;
}

bool FileSystem::MountDirectory(const char* mountName, const char* directoryPath) {
    CriticalSectionGuard guard(&lock);
    if (!mountName || !mountName[0] || std::strlen(mountName) >= fs::kMaxPath || std::strchr(mountName, '/') ||
        std::strchr(mountName, '\\')) {
        gLog.Error(LogCategory::Engine, "Unable to mount directory: %s", directoryPath ? directoryPath : "");
        return false;
    }
    if (FindMountPoint(mountName, nullptr)) {
        gLog.Error(LogCategory::Engine, "Mount point %s already mounted", mountName);
        return false;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Mounting directory %s to %s", directoryPath ? directoryPath : "", mountName);
    auto* mountPoint = new FileSystemDirectoryMountPoint(mountName, directoryPath);
    if (!mountPoint->IsValid()) {
        gLog.Error(LogCategory::Engine, "Unable to mount directory: %s", directoryPath ? directoryPath : "");
        delete mountPoint;
        return false;
    }
    InsertMountPoint(mountPoint);
    return true;
}

bool FileSystem::MountContainer(const char* mountName, const char* basePath, uint32_t dataKind, uint32_t hashMultiplier,
                                uint32_t extraCount) {
    CriticalSectionGuard guard(&lock);
    const char* base = basePath ? basePath : "";
    if (!mountName || !mountName[0] || std::strlen(mountName) >= fs::kMaxPath || std::strchr(mountName, '/') ||
        std::strchr(mountName, '\\')) {
        gLog.Error(LogCategory::Engine, "Unable to mount container: %s", base);
        return false;
    }
    FileSystemMountPoint* existing = FindMountPoint(mountName, nullptr);
    FileSystemMountPoint* kindOwner = dataKind < kContainerDataKinds ? dataKindOwners[dataKind] : nullptr;
    if (kindOwner && kindOwner != existing) {
        // Its reads would go to the other set's data files.
        gLog.Error(LogCategory::Engine, "Unable to mount container %s at %s: data kind %u is already used by mount point %s", base,
                   mountName, dataKind, kindOwner->GetName());
        return false;
    }
    if (existing) {
        gLog.Print(LogSeverity::Information, LogCategory::Engine, "Adding extra files to mounted container %s at %s", base, mountName);
        const bool added = existing->AddExtraFiles(mountName, base, dataKind, hashMultiplier, extraCount);
        if (added && dataKind < kContainerDataKinds) dataKindOwners[dataKind] = existing;
        return added;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Mounting container %s at %s", base, mountName);
    auto* mountPoint = new FileSystemContainerMountPoint(this, mountName, base, dataKind, hashMultiplier, extraCount);
    if (!mountPoint->IsValid()) {
        gLog.Error(LogCategory::Engine, "Unable to mount container: %s", base);
        delete mountPoint;
        return false;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Container mounted successfully: %s", base);
    if (dataKind < kContainerDataKinds) dataKindOwners[dataKind] = mountPoint;
    InsertMountPoint(mountPoint);
    return true;
}

void FileSystem::UnmountAll() {
    CriticalSectionGuard guard(&lock);
    delete preheated;
    preheated = nullptr;
    preheatedName[0] = 0;
    preheatRequest[0] = 0;
    for (FileSystemMountPoint* mountPoint : mountPoints) delete mountPoint;
    mountPoints.clear();
    for (FileSystemMountPoint*& o : dataKindOwners) o = nullptr;
}

void FileSystem::SetPreheatFile(const char* name, const char* extension, const char* directory, uint32_t flags) {
    CriticalSectionGuard guard(&lock);
    if (!ComposePath(preheatRequest, sizeof preheatRequest, name, extension, directory)) preheatRequest[0] = 0;
    preheatFlags = flags;
}

void FileSystem::PreheatNextStream() {
    CriticalSectionGuard guard(&lock);
    if (!preheatRequest[0]) return;
    if (preheated) {
        gLog.Error(LogCategory::Engine, "Previous preheated stream not consumed. Serious performance degradation occured!");
        delete preheated;
        preheated = nullptr;
        preheatedName[0] = 0;
    }
    // The request is taken before the open: the stream being opened may itself finish
    // its read-ahead at once and call back here.
    char path[fs::kMaxPath];
    std::memcpy(path, preheatRequest, sizeof path);
    preheatRequest[0] = 0;
    FileSystemInputStream* stream = OpenInputStream(path, nullptr, nullptr, preheatFlags);
    if (stream) {
        preheated = stream;
        std::memcpy(preheatedName, path, sizeof preheatedName);
    } else {
        gLog.Warning(LogCategory::Engine, "Cannot preheat input stream: %s. Serious performance degradation occured!", path);
    }
}
