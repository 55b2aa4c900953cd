#include "core/rtti/SolidFile.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/BoundedReader.h"
#include "core/ByteOrder.h"
#include "core/Log.h"
#include "core/Memory.h"
#include "core/fs/FileReader.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FsUtil.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/SolidBlob.h"

bool SolidSerializeToFileWriter(const RTTIPolyBaseClass& object, FileWriter& writer, uint32_t options) {
    if (!writer.IsOpen()) return false;
    std::vector<uint8_t> blob;
    SolidSerializeToBuffer(object, blob, options);
    // A blob may exceed what one 32-bit write can carry by its header.
    constexpr size_t kPiece = size_t(1) << 30;
    for (size_t at = 0; at < blob.size(); at += kPiece) {
        const size_t n = blob.size() - at < kPiece ? blob.size() - at : kPiece;
        if (!writer.Write(blob.data() + at, static_cast<uint32_t>(n))) return false;
    }
    return true;
}

bool SolidDeserializeFromFileReader(RTTIPolyBaseClass& object, FileReader& reader, uint32_t options,
                                    const char* fileName) {
    const char* file = fileName ? fileName : "the file";
    // Every line of the property-list reader below names the file.
    const BoundedReaderSource source(fileName);
    uint8_t sizeWord[4];
    if (!reader.Read(sizeWord, sizeof sizeWord)) {
        gLog.Error(LogCategory::Engine, "SolidDeserializeFromFileReader - %s is cut short: %u bytes, no whole size word",
                   file, reader.GetSize());
        return false;
    }
    const uint32_t n = fs::LoadLE32(sizeWord);
    if (n == 0) {
        // Only an object with nothing to store writes an empty blob; for any other the
        // file was damaged, and the object keeps what it holds.
        if (object.SolidSerialize(nullptr, options) == 0) return true;
        gLog.Error(LogCategory::Engine, "SolidDeserializeFromFileReader - %s holds no data (its size word is 0)", file);
        return false;
    }
    // The whole blob, size word included, goes to the in-memory reader, which owns the
    // check value, CRC and payload rules.
    const uint32_t header = (options & kSerializeSolidCheck) ? 12 : 4;
    const uint32_t fileSize = reader.GetSize();
    if (n > fileSize || fileSize - n < header) {
        // The numbers a reader can check against the file: its size and the size the
        // blob states, header included.
        gLog.Error(LogCategory::Engine,
                   "SolidDeserializeFromFileReader - %s is cut short: %u bytes where its blob states %llu "
                   "(a %u-byte header and %u bytes of data)",
                   file, fileSize, static_cast<unsigned long long>(uint64_t(header) + n), header, n);
        return false;
    }
    const uint32_t total = header + n;
    auto* blob = static_cast<uint8_t*>(EngineAlloc(total));
    if (!blob) {
        gLog.Error(LogCategory::Engine, "SolidDeserializeFromFileReader - cannot allocate %u bytes", total);
        return false;
    }
    std::memcpy(blob, sizeWord, sizeof sizeWord);
    bool ok = reader.Read(blob + sizeof sizeWord, total - sizeof sizeWord);
    if (!ok)
        gLog.Error(LogCategory::Engine, "SolidDeserializeFromFileReader - %s could not be read whole (%u bytes)", file,
                   total);
    else
        ok = SolidDeserializeFromBuffer(object, blob, total, options);
    EngineFree(blob);
    return ok;
}

bool RTTIPolyBaseClass::SaveToFile(const char* name, const char* extension, const char* directory,
                                   uint32_t options) const {
    FileWriter writer(name, extension, directory);
    if (!writer.IsOpen()) return false;
    const bool written = SolidSerializeToFileWriter(*this, writer, options);
    return writer.Close() && written;
}

bool RTTIPolyBaseClass::LoadFromFile(const char* name, const char* extension, const char* directory,
                                     uint32_t options) {
    FileReader reader(name, extension, directory);
    if (!reader.IsOpen()) return false;
    char path[fs::kMaxPath];
    if (!FileSystem::ComposePath(path, sizeof path, name, extension, directory)) std::snprintf(path, sizeof path, "%s", name);
    return SolidDeserializeFromFileReader(*this, reader, options, path);
}
