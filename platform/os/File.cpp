#include "platform/os/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace os {

namespace {

PathKind KindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return PathKind::File;
    if (S_ISDIR(st.st_mode)) return PathKind::Directory;
    return PathKind::Other;
}

char* CopyText(const char* text) {
    const size_t n = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(n + 1));
    if (copy) std::memcpy(copy, text, n + 1);
    return copy;
}

inline unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// Plain '*' / '?' matching with backtracking over the last star.
bool MatchFrom(const unsigned char* p, const unsigned char* n) {
    const unsigned char* starP = nullptr;
    const unsigned char* starN = nullptr;
    while (*n) {
        if (*p == '*') {
            starP = ++p;
            starN = n;
        } else if (*p == '?' || (*p && Fold(*p) == Fold(*n))) {
            ++p;
            ++n;
        } else if (starP) {
            p = starP;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == 0;
}

}  // namespace

PathKind GetPathKind(const char* path) {
    struct stat st;
    if (!path || !path[0] || stat(path, &st) != 0) return PathKind::Missing;
    return KindOf(st);
}

std::FILE* OpenFile(const char* path, const char* mode) {
    if (!path || !path[0] || !mode) return nullptr;
    const bool readOnly = mode[0] == 'r' && !std::strchr(mode, '+');
    // A read-only open of anything but a regular file is refused before it is made, so
    // that opening a FIFO cannot block; writes check the result below.
    if (readOnly && GetPathKind(path) != PathKind::File) return nullptr;
    std::FILE* file = std::fopen(path, mode);
    if (!file) return nullptr;
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

void CloseFile(std::FILE* file) {
    if (file) std::fclose(file);
}

bool SeekFile(std::FILE* file, int64_t offset, SeekOrigin origin) {
    if (!file) return false;
    const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    return fseeko(file, static_cast<off_t>(offset), whence) == 0;
}

int64_t TellFile(std::FILE* file) {
    if (!file) return -1;
    return static_cast<int64_t>(ftello(file));
}

int64_t GetOpenFileSize(std::FILE* file) {
    struct stat st;
    if (!file || fstat(fileno(file), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool FlushFileToDisk(std::FILE* file) {
    if (!file) return false;
    if (std::fflush(file) != 0 || std::ferror(file)) return false;
    return fsync(fileno(file)) == 0;
}

uint64_t GetFileWriteTime(std::FILE* file) {
    struct stat st;
    if (!file || fstat(fileno(file), &st) != 0) return 0;
    return UnixToFileTime(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
}

uint64_t GetPathWriteTime(const char* path) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return 0;
    return UnixToFileTime(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
}

bool MakeDirectory(const char* path) { return path && path[0] && mkdir(path, 0777) == 0; }
bool RemoveDirectory(const char* path) { return path && path[0] && rmdir(path) == 0; }

bool IsSymbolicLink(const char* path) {
    struct stat st;
    return path && path[0] && lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

bool DeleteFile(const char* path) {
    struct stat st;
    if (!path || !path[0] || lstat(path, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return unlink(path) == 0;
}

bool SetReadOnly(const char* path, bool readOnly) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    mode = readOnly ? (mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    return chmod(path, mode) == 0;
}

bool IsReadOnly(const char* path) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return false;
    return (st.st_mode & S_IWUSR) == 0;
}

bool RenameFile(const char* from, const char* to) { return from && to && rename(from, to) == 0; }

bool WildcardMatch(const char* pattern, const char* name) {
    if (!pattern || !name) return false;
    const size_t pn = std::strlen(pattern);
    // "*.*" and any pattern ending in ".*": the dot and extension may be absent.
    if (pn >= 2 && pattern[pn - 2] == '.' && pattern[pn - 1] == '*') {
        if (MatchFrom(reinterpret_cast<const unsigned char*>(pattern), reinterpret_cast<const unsigned char*>(name)))
            return true;
        char stem[512];
        if (pn - 2 >= sizeof stem) return false;
        std::memcpy(stem, pattern, pn - 2);
        stem[pn - 2] = 0;
        return MatchFrom(reinterpret_cast<const unsigned char*>(stem), reinterpret_cast<const unsigned char*>(name));
    }
    return MatchFrom(reinterpret_cast<const unsigned char*>(pattern), reinterpret_cast<const unsigned char*>(name));
}

DirectoryIterator::~DirectoryIterator() { Close(); }

void DirectoryIterator::Close() {
    if (handle) closedir(static_cast<DIR*>(handle));
    handle = nullptr;
    std::free(directory);
    std::free(pattern);
    directory = pattern = nullptr;
    valid = false;
    name[0] = 0;
}

bool DirectoryIterator::Open(const char* dir, const char* pat) {
    Close();
    if (!dir || !pat) return false;
    DIR* d = opendir(dir[0] ? dir : ".");
    if (!d) return false;
    handle = d;
    directory = CopyText(dir[0] ? dir : ".");
    pattern = CopyText(pat);
    if (!directory || !pattern) {
        Close();
        return false;
    }
    return Advance();
}

bool DirectoryIterator::Next() { return handle && Advance(); }

bool DirectoryIterator::Advance() {
    valid = false;
    DIR* d = static_cast<DIR*>(handle);
    while (dirent* e = readdir(d)) {
        if (!WildcardMatch(pattern, e->d_name)) continue;
        const size_t n = std::strlen(e->d_name);
        if (n >= sizeof name) continue;
        std::memcpy(name, e->d_name, n + 1);
        if (e->d_type == DT_DIR) {
            directoryEntry = true;
        } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            // Follow links and ask the file system when readdir does not know the type.
            const size_t dn = std::strlen(directory);
            char* full = static_cast<char*>(std::malloc(dn + n + 2));
            if (!full) continue;
            std::memcpy(full, directory, dn);
            full[dn] = '/';
            std::memcpy(full + dn + 1, name, n + 1);
            directoryEntry = GetPathKind(full) == PathKind::Directory;
            std::free(full);
        } else {
            directoryEntry = false;
        }
        valid = true;
        return true;
    }
    return false;
}

}  // namespace os
