// pack: writes one container set, a ".dat" of file contents back to back and its ".idx"
// index (core/fs/ContainerIndex.h has the layout), from a staging folder: one entry per
// regular file below it, named by its path relative to the folder with '/' separators.
//
//   pack <folder> <out.dat>        (the index goes to out.idx)
//
// The container's compression kind is zlib. A file of kStoreBelow bytes or more is
// stored compressed when that saves bytes; smaller files, and files zlib cannot shrink,
// are stored as they are (a coded entry costs its reader a decoder for a few bytes
// saved). So a set holds stored and zlib entries side by side.
//
// The index hashes each lower-cased path with MurmurHash2 (seed 0 and the multiplier the
// engine mounts every data kind with). The reader cannot tell apart two paths of one
// hash, hashes at most kContainerMaxHashedPath characters and addresses 32-bit offsets:
// pack refuses such a folder instead of writing a set that would hand out the wrong
// file. Both files are written in full beside their targets before either is renamed
// over its target, so a refused or failed run leaves the old set as it was.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "core/fs/ContainerIndex.h"
#include "core/fs/FsUtil.h"

namespace {

namespace stdfs = std::filesystem;

constexpr uint32_t kSeed = 0;
constexpr uint32_t kEngineMultiplier = 0x5BD1E995;
constexpr size_t kStoreBelow = 512;

struct PackedFile {
    std::string path;  // as stored: relative, '/' separated, original case
    uint32_t hash = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t storedSize = 0;
    bool compressed = false;
};

bool Fail(const std::string& what) {
    std::fprintf(stderr, "pack: %s\n", what.c_str());
    return false;
}

std::string Lowered(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = static_cast<char>(fs::FoldAscii(static_cast<unsigned char>(c)));
    return out;
}

bool ReadFile(const stdfs::path& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The zlib form of data when data is worth coding and the form is shorter; empty
// otherwise.
std::vector<uint8_t> Compressed(const std::vector<uint8_t>& data) {
    if (data.size() < kStoreBelow) return {};
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), Z_BEST_COMPRESSION) != Z_OK ||
        size >= data.size())
        return {};
    out.resize(size);
    return out;
}

// Every regular file below root, sorted by path (so that files of one hash are named in
// the same order on every run).
bool ListFiles(const stdfs::path& root, std::vector<PackedFile>* files) {
    std::error_code error;
    if (!stdfs::is_directory(root, error)) return Fail("no staging folder " + root.string());
    stdfs::recursive_directory_iterator it(root, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error)) continue;
        PackedFile f;
        f.path = it->path().lexically_relative(root).generic_string();
        files->push_back(f);
    }
    if (error) return Fail("cannot list " + root.string() + ": " + error.message());
    std::sort(files->begin(), files->end(), [](const PackedFile& a, const PackedFile& b) { return a.path < b.path; });
    return true;
}

void Put32(std::vector<uint8_t>* out, uint32_t v) {
    uint8_t b[4];
    fs::StoreLE32(b, v);
    out->insert(out->end(), b, b + 4);
}

// files: sorted by hash.
std::vector<uint8_t> BuildIndex(const std::vector<PackedFile>& files) {
    std::vector<uint8_t> index = {0, 0, CONTAINER_COMPRESSION_ZLIB};  // version, little-endian platform tag
    Put32(&index, static_cast<uint32_t>(files.size()));
    Put32(&index, kSeed);
    for (const PackedFile& f : files) {
        Put32(&index, f.hash);
        Put32(&index, f.offset);
        Put32(&index, f.size);
        Put32(&index, f.storedSize);
        index.push_back(f.compressed ? 1 : 0);
    }
    return index;
}

// Writes path + ".tmp"; false (nothing left behind) on failure.
bool WriteTemporary(const stdfs::path& path, const std::vector<uint8_t>& bytes) {
    const stdfs::path temporary = path.string() + ".tmp";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (out) return true;
    out.close();
    std::error_code ignored;
    stdfs::remove(temporary, ignored);
    return Fail("cannot write " + path.string());
}

bool ReplaceWithTemporary(const stdfs::path& path) {
    std::error_code error;
    stdfs::rename(path.string() + ".tmp", path, error);
    return !error || Fail("cannot write " + path.string() + ": " + error.message());
}

bool Pack(const stdfs::path& root, const stdfs::path& datPath) {
    const std::string dat = datPath.string();
    if (dat.size() < 4 || dat.compare(dat.size() - 4, 4, ".dat") != 0) return Fail("the data file must end in .dat: " + dat);
    std::vector<PackedFile> files;
    if (!ListFiles(root, &files)) return false;

    for (PackedFile& f : files) {
        const std::string key = Lowered(f.path);
        if (key.size() > kContainerMaxHashedPath) return Fail("path longer than the index hashes: " + f.path);
        f.hash = MurmurHash2(key.data(), static_cast<uint32_t>(key.size()), kSeed, kEngineMultiplier);
    }
    // The index order; the data follow it too.
    std::stable_sort(files.begin(), files.end(), [](const PackedFile& a, const PackedFile& b) { return a.hash < b.hash; });
    for (size_t i = 1; i < files.size(); ++i)
        if (files[i].hash == files[i - 1].hash)
            return Fail("paths " + files[i - 1].path + " and " + files[i].path + " cannot be told apart by the index");

    std::vector<uint8_t> data;
    for (PackedFile& f : files) {
        std::vector<uint8_t> bytes;
        if (!ReadFile(root / f.path, &bytes)) return Fail("cannot read " + (root / f.path).string());
        std::vector<uint8_t> coded = Compressed(bytes);
        const std::vector<uint8_t>& stored = coded.empty() ? bytes : coded;
        if (data.size() + stored.size() > UINT32_MAX || bytes.size() > UINT32_MAX)
            return Fail("more data than a container addresses at " + f.path);
        f.offset = static_cast<uint32_t>(data.size());
        f.size = static_cast<uint32_t>(bytes.size());
        f.storedSize = static_cast<uint32_t>(stored.size());
        f.compressed = !coded.empty();
        data.insert(data.end(), stored.begin(), stored.end());
    }
    stdfs::path idxPath = datPath;
    idxPath.replace_extension(".idx");
    if (!WriteTemporary(datPath, data)) return false;
    if (!WriteTemporary(idxPath, BuildIndex(files))) {
        std::error_code ignored;
        stdfs::remove(dat + ".tmp", ignored);
        return false;
    }
    return ReplaceWithTemporary(datPath) && ReplaceWithTemporary(idxPath);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pack <folder> <out.dat>\n");
        return 2;
    }
    return Pack(argv[1], argv[2]) ? 0 : 1;
}
