#pragma once
// FileReader and FileWriter: the small owning wrappers through which the engine reads
// and writes files of gFileSystem. One user (thread) at a time.
#include <cstdint>
#include <cstdio>

class FileSystemInputStream;
class FileSystemOutputStream;

class FileReader {
public:
    FileReader() = default;
    // A null name leaves the reader without a stream.
    FileReader(const char* name, const char* extension, const char* directory, uint32_t flags = 0);
    virtual ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Closes any stream first; true when a stream is open.
    bool Open(const char* name, const char* extension, const char* directory, uint32_t flags = 0);
    bool IsOpen() const { return stream != nullptr; }
    // Reads exactly size bytes (or skips them with a null buffer).
    bool Read(void* buffer, uint32_t size);
    // One line without its end: "\n" or "\r\n" ends a line, a lone '\r' is kept with the
    // character after it. False for an empty line, at the end, or when the line does not
    // fit size - 1 characters.
    bool ReadLine(char* buffer, uint32_t size);
    uint32_t GetSize() const;
    uint64_t GetFileTime() const;  // FILETIME units; 0 without a stream
    virtual std::FILE* GetFileHandle(bool detach);
    void Close();
    FileSystemInputStream* Stream() const { return stream; }

private:
    FileSystemInputStream* stream = nullptr;
    int pushedBack = -1;  // a character read ahead by ReadLine
};

class FileWriter {
public:
    FileWriter(const char* name, const char* extension, const char* directory, uint32_t flags = 0);
    virtual ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool IsOpen() const { return stream != nullptr; }
    // Writes when open and size is not 0; false when bytes were lost.
    bool Write(const void* buffer, uint32_t size);
    virtual std::FILE* GetFileHandle(bool detach = false);
    // Finishes the file (temporary file renamed over the target); true only when the
    // whole file reached its place. The destructor closes an open writer.
    bool Close();

private:
    FileSystemOutputStream* stream = nullptr;
    bool failed = false;
};
