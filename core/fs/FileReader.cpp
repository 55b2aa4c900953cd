#include "core/fs/FileReader.h"

#include "core/fs/FileStreams.h"
#include "core/fs/FileSystem.h"

FileReader::FileReader(const char* name, const char* extension, const char* directory, uint32_t flags) {
    if (name) Open(name, extension, directory, flags);
}

FileReader::~FileReader() { Close(); }

bool FileReader::Open(const char* name, const char* extension, const char* directory, uint32_t flags) {
    Close();
    stream = gFileSystem.OpenInputStream(name, extension, directory, flags);
    return stream != nullptr;
}

void FileReader::Close() {
    delete stream;
    stream = nullptr;
    pushedBack = -1;
}

bool FileReader::Read(void* buffer, uint32_t size) {
    if (!stream) return false;
    if (pushedBack >= 0 && size > 0) {
        // The character ReadLine looked at comes first.
        if (buffer) *static_cast<uint8_t*>(buffer) = static_cast<uint8_t>(pushedBack);
        pushedBack = -1;
        if (--size == 0) return true;
        if (buffer) buffer = static_cast<uint8_t*>(buffer) + 1;
    }
    return stream->Read(buffer, size);
}

bool FileReader::ReadLine(char* buffer, uint32_t size) {
    if (!buffer || size == 0 || !stream) return false;
    uint32_t n = 0;
    for (;;) {
        uint8_t c;
        if (pushedBack >= 0) {
            c = static_cast<uint8_t>(pushedBack);
            pushedBack = -1;
        } else if (!stream->ReadChar(&c)) {
            break;
        }
        if (c == '\r') {
            uint8_t next;
            if (stream->ReadChar(&next)) {
                if (next == '\n') break;
                pushedBack = next;  // a lone '\r' is text; the next character is kept
            }
        } else if (c == '\n') {
            break;
        }
        if (n + 1 >= size) {
            buffer[0] = 0;
            return false;
        }
        buffer[n++] = static_cast<char>(c);
    }
    buffer[n] = 0;
    return n > 0;
}

uint32_t FileReader::GetSize() const { return stream ? stream->GetSize() : 0; }
uint64_t FileReader::GetFileTime() const { return stream ? stream->GetFileTime() : 0; }
std::FILE* FileReader::GetFileHandle(bool detach) { return stream ? stream->GetFileHandle(detach) : nullptr; }

FileWriter::FileWriter(const char* name, const char* extension, const char* directory, uint32_t flags) {
    if (name) stream = gFileSystem.OpenOutputStream(name, extension, directory, flags);
}

FileWriter::~FileWriter() { Close(); }

bool FileWriter::Write(const void* buffer, uint32_t size) {
    if (!stream) return false;
    if (size == 0) return true;
    if (!stream->Write(buffer, size)) failed = true;
    return !failed;
}

std::FILE* FileWriter::GetFileHandle(bool detach) { return stream ? stream->GetFileHandle(detach) : nullptr; }

bool FileWriter::Close() {
    if (!stream) return false;
    const bool ok = stream->Close() && !failed;
    delete stream;
    stream = nullptr;
    return ok;
}
