#pragma once
// The virtual file system (gFileSystem).
//
// Every file access of the engine goes through gFileSystem. A path is composed from
// (name, extension, directory) by ComposePath; it is either absolute on the machine or
// starts with the name of a mount point ("locals", "user", "project", one per data
// kind). A mount point is a folder of the machine (FileSystemDirectoryMountPoint) or a
// set of container files (FileSystemContainerMountPoint, FileSystemContainer.h).
//
// Absolute paths: a path that starts with "//" or a drive letter and ':', or one that
// lies in a folder the platform handed over (the executable's folder or the user data
// folder). A leading '/' alone does not make a path absolute, so a name composed as
// "/x" never reaches the machine's root.
//
// Threads: any thread. One recursive lock is held for the whole of every public
// operation, stream creation included. Streams themselves are not locked.
#include <cstdint>
#include <vector>

#include "core/Sync.h"
#include "core/fs/ContainerIndex.h"
#include "core/fs/FileStreams.h"
#include "core/fs/FsUtil.h"

class PhysicalFileReader;
class FileSystemDirectoryIteratorInternals;

// Open flag: the whole-file CRC format ("FWSF") for local files.
enum : uint32_t { FILE_OPEN_WHOLE_FILE_CRC = 1 };

class FileSystemMountPoint {
public:
    explicit FileSystemMountPoint(const char* name);
    virtual ~FileSystemMountPoint();
    FileSystemMountPoint(const FileSystemMountPoint&) = delete;
    FileSystemMountPoint& operator=(const FileSystemMountPoint&) = delete;

    // Paths handed to a mount point are the rest after the mount name, starting with '/'
    // (or empty for the mount's root).
    virtual bool FileExists(const char* path) { return false; }
    virtual bool DirectoryExists(const char* path) { return false; }
    virtual FileSystemInputStream* OpenInputStream(const char* path, uint32_t flags) { return nullptr; }
    virtual FileSystemOutputStream* OpenOutputStream(const char* path, uint32_t flags) { return nullptr; }
    virtual FileSystemDirectoryIteratorInternals* CreateIterator(const char* path, const char* pattern) { return nullptr; }
    virtual bool GetPhysicalPath(const char* path, char* buffer, uint32_t size) { return false; }
    virtual bool AddExtraFiles(const char* mountName, const char* basePath, uint32_t dataKind, uint32_t multiplier,
                               uint32_t extraCount) {
        return false;
    }

    const char* GetName() const { return name; }
    bool IsValid() const { return valid; }

protected:
    char* name = nullptr;
    bool valid = false;
};

// A folder of the machine. Path components are matched case-insensitively (data names
// are mixed-case and the original platform ignores case); resolved folders are cached.
class FileSystemDirectoryMountPoint : public FileSystemMountPoint {
public:
    FileSystemDirectoryMountPoint(const char* name, const char* directory);
    ~FileSystemDirectoryMountPoint() override;

    bool FileExists(const char* path) override;
    bool DirectoryExists(const char* path) override;
    FileSystemInputStream* OpenInputStream(const char* path, uint32_t flags) override;
    FileSystemOutputStream* OpenOutputStream(const char* path, uint32_t flags) override;
    FileSystemDirectoryIteratorInternals* CreateIterator(const char* path, const char* pattern) override;
    bool GetPhysicalPath(const char* path, char* buffer, uint32_t size) override;

    const char* GetDirectory() const { return directory; }

private:
    struct Cache;
    // The machine path of a mount path: existing components take their real spelling,
    // the rest stays as given. False when it does not fit.
    bool Resolve(const char* path, char* buffer, uint32_t size);

    char* directory = nullptr;
    Cache* cache = nullptr;
};

// Iteration over the entries of a folder matching a wildcard pattern.
class FileSystemDirectoryIteratorInternals {
public:
    virtual ~FileSystemDirectoryIteratorInternals() = default;
    virtual const char* GetName() const = 0;  // null when no entry is left
    virtual bool IsDirectory() const = 0;
    // Copies the current name out and advances; false when no entry was left.
    virtual bool Step(char* buffer, uint32_t size) = 0;
};

class FileSystemDirectoryIterator {
public:
    // A null path leaves the iterator empty.
    FileSystemDirectoryIterator(const char* path, const char* pattern);
    ~FileSystemDirectoryIterator();
    FileSystemDirectoryIterator(const FileSystemDirectoryIterator&) = delete;
    FileSystemDirectoryIterator& operator=(const FileSystemDirectoryIterator&) = delete;

    const char* GetName() const;
    bool IsDirectory() const;
    bool Step(char* buffer, uint32_t size);

private:
    FileSystemDirectoryIteratorInternals* internals = nullptr;
};

class FileSystem {
public:
    // reader: the worker that serves container reads (null: gPhysicalFileReader).
    explicit FileSystem(PhysicalFileReader* reader = nullptr);
    ~FileSystem();
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;

    // Builds the path every operation uses (see the design note in FileSystem.cpp);
    // false when the result would not fit min(size, fs::kMaxPath) bytes.
    static bool ComposePath(char* buffer, uint32_t size, const char* name, const char* extension, const char* directory);
    static bool IsAbsolutePath(const char* path);

    // The caller owns the streams; null when nothing could be opened.
    FileSystemInputStream* OpenInputStream(const char* name, const char* extension, const char* directory, uint32_t flags);
    FileSystemOutputStream* OpenOutputStream(const char* name, const char* extension, const char* directory, uint32_t flags);
    bool FileExists(const char* name, const char* extension, const char* directory);
    bool GetPhysicalPath(const char* name, const char* extension, const char* directory, char* buffer, uint32_t size);
    bool Delete(const char* name, const char* extension, const char* directory, bool recursive);
    // True only when at least one directory was created.
    bool CreateDirectory(const char* path, const char* directory);

    bool MountDirectory(const char* mountName, const char* directoryPath);
    // Data kinds 0..10 name the reader's kept-open files: a kind already used by another
    // mounted container set is refused (the first mount keeps working).
    bool MountContainer(const char* mountName, const char* basePath, uint32_t dataKind, uint32_t hashMultiplier,
                        uint32_t extraCount);
    void UnmountAll();

    void SetPreheatFile(const char* name, const char* extension, const char* directory, uint32_t flags);
    void PreheatNextStream();

    // For iterators and tests: the mount point a composed relative path starts with, and
    // the rest of the path after its name.
    FileSystemMountPoint* FindMountPoint(const char* path, const char** rest);
    CriticalSection& Lock() { return lock; }
    PhysicalFileReader* Reader() const { return reader; }

private:
    void InsertMountPoint(FileSystemMountPoint* mountPoint);

    CriticalSection lock;
    PhysicalFileReader* reader;
    std::vector<FileSystemMountPoint*> mountPoints;  // sorted by name, case-insensitively
    FileSystemMountPoint* dataKindOwners[kContainerDataKinds] = {};  // container mounts by data kind
    char preheatRequest[fs::kMaxPath] = {};
    uint32_t preheatFlags = 0;
    char preheatedName[fs::kMaxPath] = {};
    FileSystemInputStream* preheated = nullptr;
};

// Lives in static storage; built and destroyed by the ordered start-up and shutdown
// (RunStaticInit / RunStaticShutdown), never by a C++ static constructor.
extern FileSystem& gFileSystem;
void CreateGlobalFileSystem();
void DestroyGlobalFileSystem();
