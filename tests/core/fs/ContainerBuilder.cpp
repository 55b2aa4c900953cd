#include "ContainerBuilder.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "core/fs/FileStreams.h"

namespace testfs {

uint32_t ReferenceMurmur2(const void* key, int length, uint32_t seed, uint32_t m) {
    const int r = 24;
    uint32_t h = seed ^ static_cast<uint32_t>(length);
    const unsigned char* data = static_cast<const unsigned char*>(key);
    int len = length;
    while (len >= 4) {
        uint32_t k = data[0] | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
        k *= m;
        k ^= k >> r;
        k *= m;
        h *= m;
        h ^= k;
        data += 4;
        len -= 4;
    }
    if (len == 3) h ^= uint32_t(data[2]) << 16;
    if (len >= 2) h ^= uint32_t(data[1]) << 8;
    if (len >= 1) {
        h ^= data[0];
        h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

std::vector<uint8_t> GzipWithProgram(const std::vector<uint8_t>& data, const std::string& scratchDir) {
    static std::atomic<int> counter{0};
    const std::string in = scratchDir + "/gz_in_" + std::to_string(counter++);
    WriteWholeFile(in, data);
    const std::string command = "gzip -9 -n -c '" + in + "' > '" + in + ".gz'";
    if (std::system(command.c_str()) != 0) return {};
    std::vector<uint8_t> out = ReadWholeFile(in + ".gz");
    std::filesystem::remove(in);
    std::filesystem::remove(in + ".gz");
    return out;
}

std::vector<uint8_t> Compress2(const std::vector<uint8_t>& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK) return {};
    out.resize(size);
    return out;
}

namespace {
void Put32(std::vector<uint8_t>& out, uint32_t v, bool big) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(big ? v >> (24 - 8 * i) : v >> (8 * i)));
}
}  // namespace

std::vector<uint8_t> BuildIndex(const std::vector<Entry>& entries, const std::vector<uint32_t>& offsets,
                                const std::vector<uint32_t>& storedSizes, const ContainerOptions& options) {
    const bool big = options.platformTag == 1 || options.platformTag == 5;
    std::map<uint32_t, size_t> byHash;  // sorted by hash; a later entry wins
    for (size_t i = 0; i < entries.size(); ++i)
        byHash[ReferenceMurmur2(entries[i].path.data(), static_cast<int>(entries[i].path.size()), options.seed, options.multiplier)] = i;
    std::vector<uint8_t> out;
    out.push_back(options.version);
    out.push_back(options.platformTag);
    out.push_back(options.compression);
    Put32(out, static_cast<uint32_t>(byHash.size()), big);
    Put32(out, options.seed, big);
    for (const auto& [hash, i] : byHash) {
        Put32(out, hash, big);
        Put32(out, offsets[i], big);
        Put32(out, static_cast<uint32_t>(entries[i].data.size()), big);
        Put32(out, storedSizes[i], big);
        out.push_back(entries[i].coding == Coding::Stored ? 0 : 1);
    }
    return out;
}

bool WriteContainer(const std::string& datPath, const std::vector<Entry>& entries, const ContainerOptions& options,
                    const std::string& scratchDir) {
    std::vector<uint8_t> dat;
    std::vector<uint32_t> offsets, stored;
    for (const Entry& e : entries) {
        std::vector<uint8_t> bytes;
        switch (e.coding) {
        case Coding::Stored:
            bytes = e.data;
            break;
        case Coding::Gzip:
            bytes = GzipWithProgram(e.data, scratchDir);
            if (bytes.empty()) return false;
            break;
        case Coding::Compress2:
            bytes = Compress2(e.data);
            if (bytes.empty()) return false;
            break;
        case Coding::Precoded:
            bytes = e.coded;
            break;
        }
        offsets.push_back(static_cast<uint32_t>(dat.size()));
        stored.push_back(static_cast<uint32_t>(bytes.size()));
        dat.insert(dat.end(), bytes.begin(), bytes.end());
        // A little padding between entries, so a reader that overruns sees foreign bytes.
        for (int i = 0; i < 7; ++i) dat.push_back(0xEE);
    }
    std::string idxPath = datPath.substr(0, datPath.size() - 3) + "idx";
    return WriteWholeFile(datPath, dat) && WriteWholeFile(idxPath, BuildIndex(entries, offsets, stored, options));
}

std::string CheckInterleavedReads(const std::vector<FileSystemInputStream*>& streams,
                                  const std::vector<const std::vector<uint8_t>*>& sources, std::mt19937& rng) {
    std::vector<size_t> positions(streams.size(), 0);
    std::vector<uint8_t> chunk;
    for (bool any = true; any;) {
        any = false;
        for (size_t i = 0; i < streams.size(); ++i) {
            const std::vector<uint8_t>& src = *sources[i];
            const std::string where = "stream " + std::to_string(i) + " at " + std::to_string(positions[i]);
            if (positions[i] >= src.size()) continue;
            any = true;
            const size_t n = std::min<size_t>(src.size() - positions[i], 1 + rng() % (rng() % 3 == 0 ? 70000 : 3000));
            const bool skip = rng() % 4 == 0;
            chunk.assign(n, 0);
            if (!streams[i]->Read(skip ? nullptr : chunk.data(), static_cast<uint32_t>(n))) return where + ": read failed";
            if (!skip && !std::equal(chunk.begin(), chunk.end(), src.begin() + static_cast<long>(positions[i])))
                return where + ": bytes differ";
            positions[i] += n;
            uint8_t extra;
            if (positions[i] == src.size() && streams[i]->Read(&extra, 1)) return where + ": a read past the end succeeded";
        }
    }
    return {};
}

namespace {
const std::string* gFuzzScratch = nullptr;
struct FuzzScratchCleanup {
    ~FuzzScratchCleanup() {
        std::error_code ec;
        if (gFuzzScratch) std::filesystem::remove_all(*gFuzzScratch, ec);
    }
} gFuzzScratchCleanup;
}  // namespace

const std::string& FuzzScratchFolder(const char* prefix) {
    // Never destroyed: the clean-up at exit still needs it.
    static const std::string* folder = [prefix] {
        auto p = std::filesystem::temp_directory_path() / (std::string(prefix) + std::to_string(std::random_device()()));
        std::filesystem::create_directories(p);
        return gFuzzScratch = new std::string(p.string());
    }();
    return *folder;
}

std::vector<uint8_t> MakeContent(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"tower ", "squad ", "path ", "level ", "medal ", "<entity>", "\r\n", "0.125 ", "template "};
    std::vector<uint8_t> out;
    out.reserve(size);
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    while (out.size() < size) {
        if (next() % 4 == 0) {
            const int n = 1 + static_cast<int>(next() % 24);
            for (int i = 0; i < n && out.size() < size; ++i) out.push_back(static_cast<uint8_t>(next()));
        } else {
            const char* w = kWords[next() % 9];
            for (const char* p = w; *p && out.size() < size; ++p) out.push_back(static_cast<uint8_t>(*p));
        }
    }
    return out;
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    std::random_device rd;
    path = (std::filesystem::temp_directory_path() /
            ("fs_test_" + std::to_string(rd()) + "_" + std::to_string(counter++)))
               .string();
    std::filesystem::create_directories(path);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path, ec);
}

}  // namespace testfs
