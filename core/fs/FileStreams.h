#pragma once
// Streams handed out by the file system: local files, whole-file CRC-protected files
// ("FWSF") and entries of container sets (FileSystemContainer.h).
//
// A stream belongs to one user (thread) at a time; the file system creates it under
// its lock and the caller owns and deletes it. Output streams of local files write a
// temporary file beside the target and rename it over the target when they are closed,
// so that a failed or interrupted write never destroys the previous file; Close()
// reports whether the whole file reached its place.
#include <cstdint>
#include <cstdio>

// "FWSF" read as a little-endian u32.
constexpr uint32_t kWholeFileCrcMagic = 0x46535746;
constexpr uint32_t kWholeFileCrcHeader = 12;

class FileSystemInputStream {
public:
    virtual ~FileSystemInputStream() = default;
    virtual bool IsOpen() const = 0;
    virtual uint32_t GetSize() = 0;
    // Last-write time in FILETIME units (100 ns since 1601); 0 when the kind has none.
    virtual uint64_t GetFileTime() { return 0; }
    // Copies exactly size bytes, or skips them when buffer is null; false when fewer
    // are available.
    virtual bool Read(void* buffer, uint32_t size) = 0;
    // False at the end of the stream.
    virtual bool ReadChar(uint8_t* out) = 0;
    // The C runtime handle, or null for streams without one. With detach the stream
    // forgets the handle and the caller closes it.
    virtual std::FILE* GetFileHandle(bool detach) { return nullptr; }

protected:
    FileSystemInputStream() = default;
    FileSystemInputStream(const FileSystemInputStream&) = delete;
    FileSystemInputStream& operator=(const FileSystemInputStream&) = delete;
};

class FileSystemLocalFileInputStream : public FileSystemInputStream {
public:
    explicit FileSystemLocalFileInputStream(const char* path);
    ~FileSystemLocalFileInputStream() override;
    bool IsOpen() const override { return file != nullptr; }
    uint32_t GetSize() override;
    uint64_t GetFileTime() override;
    bool Read(void* buffer, uint32_t size) override;
    bool ReadChar(uint8_t* out) override;
    std::FILE* GetFileHandle(bool detach) override;

private:
    std::FILE* file = nullptr;
    int64_t size = -1;      // cached after the first query
    uint64_t fileTime = 0;  // cached after the first query
    bool timeKnown = false;
};

// The whole body is read and checked when the stream is made; reads are served from
// memory.
class FileSystemWholeFileCRCInputStream : public FileSystemInputStream {
public:
    explicit FileSystemWholeFileCRCInputStream(const char* path);
    ~FileSystemWholeFileCRCInputStream() override;
    bool IsOpen() const override { return open; }
    uint32_t GetSize() override { return size; }
    bool Read(void* buffer, uint32_t count) override;
    bool ReadChar(uint8_t* out) override;

private:
    uint8_t* body = nullptr;
    uint32_t size = 0;
    uint32_t position = 0;
    bool open = false;
};

class FileSystemOutputStream {
public:
    virtual ~FileSystemOutputStream() = default;
    virtual bool IsOpen() const = 0;
    // False when the stream is not open or the bytes could not be written.
    virtual bool Write(const void* buffer, uint32_t size) = 0;
    virtual std::FILE* GetFileHandle(bool detach) { return nullptr; }
    // Finishes the file; true only when every byte reached the target. The destructor
    // closes a stream that was not closed.
    virtual bool Close() = 0;

protected:
    FileSystemOutputStream() = default;
    FileSystemOutputStream(const FileSystemOutputStream&) = delete;
    FileSystemOutputStream& operator=(const FileSystemOutputStream&) = delete;
};

// Removes the temporaries of the file at target (a physical path) that saves of ended
// processes left behind (a save killed between creating its temporary and renaming it),
// with one line each; those of this process and of running ones stay. Only the first call
// for a target lists its folder; later ones return at once. Any thread. Every local
// output stream calls it for its target, and a save that finds its file already holding
// its bytes calls it itself.
void RemoveStaleSaveTemporaries(const char* target);

class FileSystemLocalFileOutputStream : public FileSystemOutputStream {
public:
    explicit FileSystemLocalFileOutputStream(const char* path);
    ~FileSystemLocalFileOutputStream() override;
    bool IsOpen() const override { return open; }
    bool Write(const void* buffer, uint32_t size) override;
    std::FILE* GetFileHandle(bool detach) override;
    bool Close() override;

protected:
    // Writes bytes to the temporary file; records a failure.
    bool WriteRaw(const void* buffer, size_t size);

    char* targetPath = nullptr;
    char* tempPath = nullptr;
    std::FILE* file = nullptr;
    bool open = false;
    bool failed = false;
    bool detached = false;
    bool closed = false;
    bool result = false;
};

// Collects the body in memory; Close writes "FWSF", the size, the CRC and the body.
class FileSystemWholeFileCRCOutputStream : public FileSystemLocalFileOutputStream {
public:
    explicit FileSystemWholeFileCRCOutputStream(const char* path);
    ~FileSystemWholeFileCRCOutputStream() override;
    bool Write(const void* buffer, uint32_t size) override;
    std::FILE* GetFileHandle(bool detach) override { return nullptr; }
    bool Close() override;

private:
    uint8_t* body = nullptr;
    uint32_t size = 0;
    uint32_t capacity = 0;
};
