#pragma once
// An independent writer of container sets for the tests: ".dat" files of entries back to
// back and ".idx" index files, written from the format description with its own hash
// code. Compressed entries come from the real gzip program or from zlib's compress2, or
// are handed over already coded (LZX frame streams from the test encoder).
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

class FileSystemInputStream;

namespace testfs {

// Precoded: the entry's stored bytes are `coded`, flagged compressed.
enum class Coding { Stored, Gzip, Compress2, Precoded };

struct Entry {
    Entry(std::string entryPath, std::vector<uint8_t> content, Coding how = Coding::Stored,
          std::vector<uint8_t> precoded = {})
        : path(std::move(entryPath)), data(std::move(content)), coding(how), coded(std::move(precoded)) {}

    std::string path;  // as the index hashes it: lower-cased, without the leading '/'
    std::vector<uint8_t> data;
    Coding coding = Coding::Stored;
    std::vector<uint8_t> coded;  // Precoded only
};

struct ContainerOptions {
    uint8_t version = 0;
    uint8_t platformTag = 0;  // 1 and 5 write the words big-endian
    uint8_t compression = 1;  // container kind: 0 none, 1 zlib, 2 LZX
    uint32_t seed = 0x1234567;
    uint32_t multiplier = 0x5BD1E995;
};

// Reference MurmurHash2 (32-bit, r = 24), written independently of the engine's.
uint32_t ReferenceMurmur2(const void* key, int length, uint32_t seed, uint32_t m);

std::vector<uint8_t> GzipWithProgram(const std::vector<uint8_t>& data, const std::string& scratchDir);
std::vector<uint8_t> Compress2(const std::vector<uint8_t>& data);

// Writes datPath and its index (".dat" -> ".idx"); entries that hash alike keep the last.
// Stored bytes come first when no scratch folder is needed (Stored, Compress2).
bool WriteContainer(const std::string& datPath, const std::vector<Entry>& entries, const ContainerOptions& options,
                    const std::string& scratchDir);

// Index bytes alone (for the fuzz target's seeds).
std::vector<uint8_t> BuildIndex(const std::vector<Entry>& entries, const std::vector<uint32_t>& offsets,
                                const std::vector<uint32_t>& storedSizes, const ContainerOptions& options);

// Reads every stream to its end in interleaved random pieces (up to 3000 bytes, or up
// to 70000 now and then), a quarter of them skipped, comparing with its source; then
// one byte more must fail. Empty on success, else what differed.
std::string CheckInterleavedReads(const std::vector<FileSystemInputStream*>& streams,
                                  const std::vector<const std::vector<uint8_t>*>& sources, std::mt19937& rng);

// Deterministic test content: text-like runs mixed with noise, so it compresses somewhat.
std::vector<uint8_t> MakeContent(size_t size, uint32_t seed);

std::vector<uint8_t> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data);

// One scratch folder per process for a fuzz target, named from prefix on the first
// call and removed at exit.
const std::string& FuzzScratchFolder(const char* prefix);

// A fresh folder under the system's temporary folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path; }
    std::string operator/(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

}  // namespace testfs
