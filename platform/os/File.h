#pragma once
// Files and directories of the machine.
//
// Paths are UTF-8 with '/' separators. Files are the C runtime's std::FILE handles, so
// that streams can hand a handle to libraries that read through stdio callbacks;
// offsets are 64-bit throughout (files past 2 GiB seek and tell correctly). Every call
// is thread-safe as far as the operating system's own calls are; a handle belongs to
// one user at a time.
#include <cstdint>
#include <cstdio>

namespace os {

enum class PathKind { Missing, File, Directory, Other };

PathKind GetPathKind(const char* path);
inline bool IsRegularFile(const char* path) { return GetPathKind(path) == PathKind::File; }
inline bool IsDirectory(const char* path) { return GetPathKind(path) == PathKind::Directory; }
// True when the path itself is a symbolic link (whatever it points to, if anything).
bool IsSymbolicLink(const char* path);

// Opens a file with a C runtime mode ("rb", "wb", ...). Only regular files open: a
// directory or a device gives null, as on the original platform where opening a
// directory for reading fails.
std::FILE* OpenFile(const char* path, const char* mode);
void CloseFile(std::FILE* file);

enum class SeekOrigin { Begin, Current, End };
bool SeekFile(std::FILE* file, int64_t offset, SeekOrigin origin);
int64_t TellFile(std::FILE* file);  // -1 on failure
// Size of the open file in bytes from the file system (the position is untouched);
// -1 on failure.
int64_t GetOpenFileSize(std::FILE* file);
// Writes buffered data and asks the system to put it on the disk; false on any error.
bool FlushFileToDisk(std::FILE* file);

// Last-write times in FILETIME units: 100-nanosecond intervals since 1601-01-01 UTC.
// 0 when unknown.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ull;  // 1970-01-01 in FILETIME units
uint64_t GetFileWriteTime(std::FILE* file);
uint64_t GetPathWriteTime(const char* path);
// Converts seconds and nanoseconds since 1970 to FILETIME units.
constexpr uint64_t UnixToFileTime(int64_t seconds, uint32_t nanoseconds) {
    return kFileTimeUnixEpoch + static_cast<uint64_t>(seconds) * 10'000'000ull + nanoseconds / 100u;
}

// Creates one directory level; false when it exists already or cannot be made.
bool MakeDirectory(const char* path);
// Removes an empty directory.
bool RemoveDirectory(const char* path);
// Deletes a file (not a directory). A symbolic link is removed itself, never its target.
bool DeleteFile(const char* path);
// The original platform's read-only attribute: the owner's write permission.
bool SetReadOnly(const char* path, bool readOnly);
bool IsReadOnly(const char* path);
// Renames a file, replacing any existing file of the target name in one step.
bool RenameFile(const char* from, const char* to);

// Case-insensitive wildcard match with the original platform's meaning: '*' matches any
// run of characters, '?' one character, "*.*" also matches names without a dot and a
// trailing ".*" matches an empty extension. Case folding covers ASCII letters.
bool WildcardMatch(const char* pattern, const char* name);

// Lists the entries of one directory whose names match a wildcard pattern, "." and ".."
// included when they match (as the original's find-first calls report them).
class DirectoryIterator {
public:
    DirectoryIterator() = default;
    ~DirectoryIterator();
    DirectoryIterator(const DirectoryIterator&) = delete;
    DirectoryIterator& operator=(const DirectoryIterator&) = delete;

    // Opens the directory and moves to the first matching entry; false when the
    // directory cannot be read or nothing matches.
    bool Open(const char* directory, const char* pattern);
    // Moves to the next matching entry; false at the end.
    bool Next();
    void Close();
    bool Valid() const { return valid; }
    const char* Name() const { return name; }
    bool IsDirectory() const { return directoryEntry; }

private:
    bool Advance();

    void* handle = nullptr;
    char* directory = nullptr;
    char* pattern = nullptr;
    char name[256] = {};
    bool directoryEntry = false;
    bool valid = false;
};

}  // namespace os
