// Local and CRC-protected file streams.
#include "core/fs/FileStreams.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/CRC32.h"
#include "core/Log.h"
#include "core/Memory.h"
#include "core/Sync.h"
#include "core/fs/FsUtil.h"
#include "platform/os/Clock.h"
#include "platform/os/File.h"
#include "platform/os/System.h"

// ---------------------------------------------------------------------------------------
// Local input

FileSystemLocalFileInputStream::FileSystemLocalFileInputStream(const char* path) { file = os::OpenFile(path, "rb"); }

FileSystemLocalFileInputStream::~FileSystemLocalFileInputStream() { os::CloseFile(file); }

uint32_t FileSystemLocalFileInputStream::GetSize() {
    if (!file) return 0;
    if (size < 0) size = os::GetOpenFileSize(file);
    if (size < 0) return 0;
    return size > int64_t(0xFFFFFFFFu) ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
}

uint64_t FileSystemLocalFileInputStream::GetFileTime() {
    if (!file) return 0;
    if (!timeKnown) {
        fileTime = os::GetFileWriteTime(file);
        timeKnown = true;
    }
    return fileTime;
}

bool FileSystemLocalFileInputStream::Read(void* buffer, uint32_t count) {
    if (!file) return false;
    if (!buffer) {
        // A skip may not pass the end of the file.
        const int64_t at = os::TellFile(file);
        if (size < 0) size = os::GetOpenFileSize(file);
        if (at < 0 || size < 0 || at + int64_t(count) > size) return false;
        return os::SeekFile(file, count, os::SeekOrigin::Current);
    }
    return std::fread(buffer, 1, count, file) == count;
}

bool FileSystemLocalFileInputStream::ReadChar(uint8_t* out) {
    if (!file) return false;
    const int c = std::getc(file);
    if (c == EOF) return false;
    if (out) *out = static_cast<uint8_t>(c);
    return true;
}

std::FILE* FileSystemLocalFileInputStream::GetFileHandle(bool detach) {
    std::FILE* handle = file;
    if (detach) file = nullptr;
    return handle;
}

// ---------------------------------------------------------------------------------------
// CRC-protected input

FileSystemWholeFileCRCInputStream::FileSystemWholeFileCRCInputStream(const char* path) {
    std::FILE* file = os::OpenFile(path, "rb");
    if (!file) return;
    uint8_t header[kWholeFileCrcHeader];
    const size_t got = std::fread(header, 1, sizeof header, file);
    // A file without the magic is not ours: it fails without a message.
    if (got < 4 || fs::LoadLE32(header) != kWholeFileCrcMagic) {
        os::CloseFile(file);
        return;
    }
    const int64_t fileSize = os::GetOpenFileSize(file);
    if (got < sizeof header || fileSize < int64_t(kWholeFileCrcHeader)) {
        gLog.Warning(LogCategory::Engine, "Truncated CRC file header: %s", path);
        os::CloseFile(file);
        return;
    }
    const uint32_t bodySize = fs::LoadLE32(header + 4);
    const uint32_t crc = fs::LoadLE32(header + 8);
    // The size word is checked against what the file really holds before anything is
    // allocated.
    if (int64_t(bodySize) > fileSize - int64_t(kWholeFileCrcHeader)) {
        gLog.Warning(LogCategory::Engine, "CRC file body size %u exceeds the file: %s", bodySize, path);
        os::CloseFile(file);
        return;
    }
    if (bodySize) {
        body = static_cast<uint8_t*>(EngineAlloc(bodySize));
        if (!body || std::fread(body, 1, bodySize, file) != bodySize) {
            gLog.Warning(LogCategory::Engine, "Cannot read CRC file body: %s", path);
            ReleaseBuffer(&body);
            os::CloseFile(file);
            return;
        }
    }
    os::CloseFile(file);
    if (CRC32::GetDefault().Compute(body, bodySize) != crc) {
        gLog.Warning(LogCategory::Engine, "Crc check failed for %s", path);
        ReleaseBuffer(&body);
        return;
    }
    size = bodySize;
    open = true;  // an empty body is an open, empty stream
}

FileSystemWholeFileCRCInputStream::~FileSystemWholeFileCRCInputStream() { ReleaseBuffer(&body); }

bool FileSystemWholeFileCRCInputStream::Read(void* buffer, uint32_t count) {
    if (!open || count > size - position) return false;
    if (buffer && count) std::memcpy(buffer, body + position, count);
    position += count;
    return true;
}

bool FileSystemWholeFileCRCInputStream::ReadChar(uint8_t* out) {
    if (!open || position >= size) return false;
    if (out) *out = body[position];
    ++position;
    return true;
}

// ---------------------------------------------------------------------------------------
// Local output: a temporary file renamed over the target on Close.

namespace {
// "<target>.~tmp<pid>.<eight hex digits>", in the target's folder: the writer's
// process id tells a later save whether the temporary is still being written.
const char kTempSuffix[] = ".~tmp";
constexpr size_t kTempTagDigits = 10 + 1 + 8;  // process id, '.', tag
constexpr int kTempNameTries = 64;
std::atomic<uint32_t> gTempSerial{0};

// Parses "<digits>.<eight hex digits>" (the part after ".~tmp"); 0 when it is not one.
uint32_t TempWriterProcess(const char* tail) {
    uint64_t pid = 0;
    size_t i = 0;
    for (; tail[i] >= '0' && tail[i] <= '9' && i < 10; ++i) pid = pid * 10 + uint32_t(tail[i] - '0');
    if (i == 0 || tail[i] != '.' || pid > UINT32_MAX) return 0;
    const char* tag = tail + i + 1;
    for (size_t k = 0; k < 8; ++k)
        if (!std::isxdigit(static_cast<unsigned char>(tag[k]))) return 0;
    return tag[8] == '\0' ? uint32_t(pid) : 0;
}

}  // namespace

void RemoveStaleSaveTemporaries(const char* target) {
    if (!target || !target[0]) return;
    {
        // A temporary goes stale only when its process ends; one that ends later is the
        // next run's to remove, so each target's folder is listed once per process.
        static CriticalSection lock;
        static std::vector<std::string> listed;
        CriticalSectionGuard guard(&lock);
        if (std::find(listed.begin(), listed.end(), target) != listed.end()) return;
        listed.emplace_back(target);
    }
    const char* slash = std::strrchr(target, '/');
    const std::string folder = slash ? std::string(target, size_t(slash - target)) : std::string(".");
    const std::string prefix = std::string(slash ? slash + 1 : target) + kTempSuffix;
    const uint32_t self = os::CurrentProcessId();
    std::vector<std::string> stale;
    os::DirectoryIterator it;
    for (bool more = it.Open(folder.c_str(), (prefix + "*").c_str()); more; more = it.Next()) {
        // The wildcard ignores case; the target's name must match exactly.
        if (it.IsDirectory() || std::strncmp(it.Name(), prefix.c_str(), prefix.size()) != 0) continue;
        const uint32_t writer = TempWriterProcess(it.Name() + prefix.size());
        if (writer != 0 && writer != self && !os::ProcessExists(writer)) stale.push_back(folder + "/" + it.Name());
    }
    it.Close();
    for (const std::string& path : stale)
        if (os::DeleteFile(path.c_str()))
            gLog.Print(LogSeverity::Information, LogCategory::Engine, "Removed unfinished save %s", path.c_str());
}

namespace {

// A temporary file of its own beside the target: its name mixes the clock, a serial of
// this process and an address that differs between processes, and it is created
// exclusively, so two writers of one target (in this process or another) never share
// one; a name already taken is tried again with the next. Null when the folder takes
// no new file.
std::FILE* CreateTempFile(const char* target, char* path, size_t size) {
    for (int attempt = 0; attempt < kTempNameTries; ++attempt) {
        uint64_t mix = uint64_t(os::ReadCounter()) * 0x9E3779B97F4A7C15ull;
        mix ^= uint64_t(gTempSerial.fetch_add(1, std::memory_order_relaxed) + 1) * 0xBF58476D1CE4E5B9ull;
        mix ^= uint64_t(reinterpret_cast<uintptr_t>(&gTempSerial)) >> 4;
        mix ^= mix >> 31;
        std::snprintf(path, size, "%s%s%u.%08x", target, kTempSuffix, os::CurrentProcessId(), uint32_t(mix ^ (mix >> 32)));
        if (std::FILE* file = os::OpenFile(path, "wbx")) return file;
        if (os::GetPathKind(path) == os::PathKind::Missing) return nullptr;  // not a clash: the folder refuses
    }
    return nullptr;
}
}  // namespace

FileSystemLocalFileOutputStream::FileSystemLocalFileOutputStream(const char* path) {
    if (!path || !path[0] || os::IsDirectory(path)) return;
    const size_t n = std::strlen(path);
    const size_t tempSize = n + sizeof kTempSuffix + kTempTagDigits;
    targetPath = fs::CopyText(path);
    tempPath = static_cast<char*>(EngineAlloc(tempSize));
    if (!targetPath || !tempPath) return;
    RemoveStaleSaveTemporaries(path);
    file = CreateTempFile(path, tempPath, tempSize);
    open = file != nullptr;
}

FileSystemLocalFileOutputStream::~FileSystemLocalFileOutputStream() {
    if (!closed) FileSystemLocalFileOutputStream::Close();
    EngineFree(targetPath);
    EngineFree(tempPath);
}

bool FileSystemLocalFileOutputStream::WriteRaw(const void* buffer, size_t count) {
    if (!file || failed) return false;
    if (count && std::fwrite(buffer, 1, count, file) != count) failed = true;
    return !failed;
}

bool FileSystemLocalFileOutputStream::Write(const void* buffer, uint32_t count) {
    if (!open || closed || detached) return false;
    if (count == 0) return true;
    if (!buffer) {  // bytes the caller meant to write are lost: the file must not replace the old one
        failed = true;
        return false;
    }
    return WriteRaw(buffer, count);
}

std::FILE* FileSystemLocalFileOutputStream::GetFileHandle(bool detach) {
    std::FILE* handle = file;
    if (detach && file) {
        // The caller writes and closes the handle; Close still moves the file into place.
        detached = true;
        file = nullptr;
    }
    return handle;
}

bool FileSystemLocalFileOutputStream::Close() {
    if (closed) return result;
    closed = true;
    if (!open) return result = false;
    bool ok = !failed;
    if (file) {
        ok = os::FlushFileToDisk(file) && ok;
        ok = std::fclose(file) == 0 && ok;
        file = nullptr;
    }
    if (ok) ok = os::RenameFile(tempPath, targetPath);
    if (!ok) {
        os::DeleteFile(tempPath);
        gLog.Error(LogCategory::Engine, "Cannot write file %s", targetPath);
    }
    return result = ok;
}

// ---------------------------------------------------------------------------------------
// CRC-protected output

FileSystemWholeFileCRCOutputStream::FileSystemWholeFileCRCOutputStream(const char* path)
    : FileSystemLocalFileOutputStream(path) {}

FileSystemWholeFileCRCOutputStream::~FileSystemWholeFileCRCOutputStream() {
    if (!closed) FileSystemWholeFileCRCOutputStream::Close();
    ReleaseBuffer(&body);
}

bool FileSystemWholeFileCRCOutputStream::Write(const void* buffer, uint32_t count) {
    if (!open || closed || failed) return false;
    if (count == 0) return true;
    if (!buffer) {  // bytes the caller meant to write are lost: the file must not replace the old one
        failed = true;
        return false;
    }
    if (count > capacity - size) {
        // Doubling growth, within the 32-bit size the header can hold.
        const uint64_t need = uint64_t(size) + count;
        if (need > 0xFFFFFFFFu) {
            failed = true;
            return false;
        }
        uint64_t grown = capacity ? capacity : 256;
        while (grown < need) grown *= 2;
        if (grown > 0xFFFFFFFFu) grown = 0xFFFFFFFFu;
        auto* bigger = static_cast<uint8_t*>(EngineAlloc(static_cast<size_t>(grown)));
        if (!bigger) {
            failed = true;
            return false;
        }
        if (size) std::memcpy(bigger, body, size);
        EngineFree(body);
        body = bigger;
        capacity = static_cast<uint32_t>(grown);
    }
    std::memcpy(body + size, buffer, count);
    size += count;
    return true;
}

bool FileSystemWholeFileCRCOutputStream::Close() {
    if (closed) return result;
    if (open && !failed) {
        uint8_t header[kWholeFileCrcHeader];
        fs::StoreLE32(header, kWholeFileCrcMagic);
        fs::StoreLE32(header + 4, size);
        fs::StoreLE32(header + 8, CRC32::GetDefault().Compute(body, size));
        if (WriteRaw(header, sizeof header)) WriteRaw(body, size);
    }
    return FileSystemLocalFileOutputStream::Close();
}
