// Container sets written by the independent builder and read back through the file system.
// test-sanitize: thread address
// test-link: z mspack
// test-sources: ContainerBuilder.cpp support/LzxTestEncoder.cpp
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "CaptureLogSink.h"
#include "ContainerBuilder.h"
#include "core/config/CoreStaticInit.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FileSystemContainer.h"
#include "core/fs/PhysicalFileReader.h"
#include "core/fs/support/LzxTestEncoder.h"

using namespace testfs;

namespace {

// The SMHasher verification value of MurmurHash2 (m = 0x5BD1E995): the keys {}, {0},
// {0,1}, ... {0..254} hashed with seeds 256 - length, their hashes hashed with seed 0;
// other multipliers agree with the independent code.
TEST(MurmurHash2, MatchesReferenceVectorsAndIndependentCode) {
    for (uint32_t m : {0x5BD1E995u, 0x12345679u}) {
        uint8_t key[256], ours[256 * 4], theirs[256 * 4];
        for (int i = 0; i < 256; ++i) {
            key[i] = static_cast<uint8_t>(i);
            const uint32_t a = MurmurHash2(key, uint32_t(i), 256u - i, m), b = ReferenceMurmur2(key, i, 256u - i, m);
            std::memcpy(ours + 4 * i, &a, 4);
            std::memcpy(theirs + 4 * i, &b, 4);
        }
        const uint32_t verification = MurmurHash2(ours, sizeof ours, 0, m);
        EXPECT_EQ(verification, ReferenceMurmur2(theirs, sizeof theirs, 0, m)) << m;
        EXPECT_TRUE(m != 0x5BD1E995u || verification == 0x27864C1Eu);
    }
}

struct ContainerFixture : ::testing::Test {
    TempDir dir;
    CaptureLogSink sink;
    PhysicalFileReader reader;
    std::unique_ptr<FileSystem> fsys;

    void SetUp() override {
        sink.Attach();
        fsys = std::make_unique<FileSystem>(&reader);
    }
    void TearDown() override {
        fsys.reset();
        reader.Stop();
        sink.Detach();
    }
    bool Write(const char* file, const std::vector<Entry>& entries, const ContainerOptions& options = {}) {
        return WriteContainer(dir / file, entries, options, dir.Path());
    }
    bool Mount(const char* name, const char* file, uint32_t kind, uint32_t extra = 0) {
        return fsys->MountContainer(name, (dir / file).c_str(), kind, 0x5BD1E995, extra);
    }
    std::unique_ptr<FileSystemInputStream> Open(const std::string& name) {
        return std::unique_ptr<FileSystemInputStream>(fsys->OpenInputStream(name.c_str(), nullptr, nullptr, 0));
    }
    bool Exists(const std::string& name) { return fsys->FileExists(name.c_str(), nullptr, nullptr); }
    std::vector<uint8_t> ReadAll(const std::string& name) {
        std::unique_ptr<FileSystemInputStream> s = Open(name);
        if (!s) return {};
        std::vector<uint8_t> out(s->GetSize());
        if (!out.empty() && !s->Read(out.data(), static_cast<uint32_t>(out.size()))) return {1, 2, 3};
        return out;
    }
};

std::vector<Entry> StandardEntries() {
    return {
        {"stored/big.bin", MakeContent(200000, 1), Coding::Stored},
        {"gzip/big.txt", MakeContent(310000, 2), Coding::Gzip},
        {"zlib/big.txt", MakeContent(150001, 3), Coding::Compress2},
        {"small/a.txt", MakeContent(10, 4), Coding::Stored},
        {"small/b.txt", MakeContent(3000, 5), Coding::Compress2},
        {"small/c.txt", MakeContent(70000, 6), Coding::Gzip},
    };
}

Entry LzxEntry(const std::string& path, uint32_t size, uint32_t seed, const LzxTestOptions& options = {},
               const std::vector<uint8_t>& trailing = {}) {
    std::vector<uint8_t> data = LzxTestData(size, seed);
    std::vector<uint8_t> coded = LzxTestFrameStream(LzxTestEncode(data, options), trailing);
    return Entry(path, std::move(data), Coding::Precoded, std::move(coded));
}

// Frame streams from the test encoder (compression kind 2).
std::vector<Entry> LzxEntries() {
    LzxTestOptions mixed;  // every block type, E8 translation on
    mixed.blocks = {{1, 40000}, {3, 5000}, {2, 70000}};
    mixed.e8Size = 12000000;
    return {
        LzxEntry("lzx/big.bin", 420000, 1, mixed),  // stored size spans the three read-ahead buffers
        LzxEntry("lzx/one_frame.bin", 32768, 2),
        LzxEntry("lzx/frame_and_a_byte.bin", 32769, 3),
        LzxEntry("lzx/tiny.txt", 9, 4),
        LzxEntry("lzx/trailing.bin", 70000, 5, {}, std::vector<uint8_t>(11, 0xAB)),  // bytes after the last frame
        {"plain/stored.bin", MakeContent(80000, 6), Coding::Stored},            // flag 0: read as stored
    };
}

struct RoundTrip {
    uint8_t tag;
    bool threaded;
    uint8_t compression;
};

class ContainerRoundTrip : public ContainerFixture, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(ContainerRoundTrip, EveryEntryReadsBackWholeAndInRandomChunksWithSeveralStreamsAtOnce) {
    const RoundTrip p = GetParam();
    if (p.threaded) {
        ASSERT_TRUE(reader.Start());
    }
    const std::vector<Entry> entries = p.compression == CONTAINER_COMPRESSION_LZX ? LzxEntries() : StandardEntries();
    ContainerOptions options;
    options.platformTag = p.tag;
    options.compression = p.compression;
    ASSERT_TRUE(Write("data.dat", entries, options));
    ASSERT_TRUE(Mount("data", "data.dat", 2, 1));
    EXPECT_TRUE(sink.Contains("Container mounted successfully"));
    for (const Entry& e : entries) EXPECT_EQ(ReadAll("data/" + e.path), e.data) << e.path;
    // All entries open at once, twice each, read in interleaved random pieces and skips.
    std::mt19937 rng(p.tag * 31 + p.threaded + p.compression);
    std::vector<std::unique_ptr<FileSystemInputStream>> streams;
    std::vector<FileSystemInputStream*> raw;
    std::vector<const std::vector<uint8_t>*> sources;
    for (int round = 0; round < 2; ++round) {
        for (const Entry& e : entries) {
            streams.push_back(Open("DATA/" + e.path));
            ASSERT_NE(streams.back(), nullptr);
            EXPECT_EQ(streams.back()->GetFileTime(), 0u);
            uint8_t c;
            EXPECT_FALSE(streams.back()->ReadChar(&c));
            raw.push_back(streams.back().get());
            sources.push_back(&e.data);
        }
    }
    EXPECT_EQ(CheckInterleavedReads(raw, sources, rng), "");
    for (const auto& m : sink.Messages()) EXPECT_LT(m.severity, 3) << m.text;  // no warning, no error
}

std::vector<RoundTrip> RoundTrips() {
    std::vector<RoundTrip> all;
    for (bool threaded : {false, true}) {
        for (uint8_t tag : {0, 1, 5, 11}) all.push_back({tag, threaded, CONTAINER_COMPRESSION_ZLIB});
        all.push_back({0, threaded, CONTAINER_COMPRESSION_LZX});
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(TagsThreadsAndCoding, ContainerRoundTrip, ::testing::ValuesIn(RoundTrips()));

// A read of zero bytes succeeds on every container stream, at the start, in the middle
// and at the end of an entry, and an empty entry reads as empty (before, a container
// refused it where a folder gave it, so a file with an empty part loaded only from a
// folder).
TEST_F(ContainerFixture, ZeroByteReadsSucceedOnEveryCodingAndEveryPlace) {
    ASSERT_TRUE(reader.Start());
    std::vector<Entry> entries = {{"stored.bin", MakeContent(5000, 1), Coding::Stored},
                                  {"gzip.bin", MakeContent(5000, 2), Coding::Gzip},
                                  {"zlib.bin", MakeContent(5000, 3), Coding::Compress2},
                                  {"empty.bin", {}, Coding::Stored},
                                  {"empty.gz", {}, Coding::Gzip}};
    ASSERT_TRUE(Write("data.dat", entries));
    ASSERT_TRUE(Mount("data", "data.dat", 2));
    std::vector<Entry> lzx = {LzxEntry("lzx.bin", 5000, 4)};
    ContainerOptions options;
    options.compression = CONTAINER_COMPRESSION_LZX;
    ASSERT_TRUE(Write("lzx.dat", lzx, options));
    ASSERT_TRUE(Mount("lzx", "lzx.dat", 3));
    entries.push_back(lzx[0]);
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.path);
        std::unique_ptr<FileSystemInputStream> s = Open((e.path == "lzx.bin" ? "lzx/" : "data/") + e.path);
        ASSERT_NE(s, nullptr);
        uint8_t byte = 0;
        std::vector<uint8_t> got(e.data.size());
        const uint32_t half = uint32_t(got.size() / 2);
        EXPECT_TRUE(s->Read(&byte, 0));
        EXPECT_TRUE(s->Read(nullptr, 0));
        if (!got.empty()) {
            EXPECT_TRUE(s->Read(got.data(), half));
            EXPECT_TRUE(s->Read(&byte, 0));
            EXPECT_TRUE(s->Read(got.data() + half, uint32_t(got.size()) - half));
        }
        EXPECT_TRUE(s->Read(&byte, 0));  // at the end
        EXPECT_FALSE(s->Read(&byte, 1));
        EXPECT_EQ(got, e.data);
    }
    // No error (the reader may warn about its own waits on a busy machine).
    for (const auto& m : sink.Messages()) EXPECT_LT(m.severity, 4) << m.text;
}

TEST_F(ContainerFixture, CorruptAndTruncatedLzxEntriesFailCleanly) {
    ASSERT_TRUE(reader.Start());
    std::vector<Entry> entries = {LzxEntry("good.bin", 100000, 7), LzxEntry("bad_frame.bin", 100000, 8),
                                  LzxEntry("cut.bin", 100000, 9), LzxEntry("short.bin", 50000, 10)};
    // After the 2-byte frame header: E8 flag 0, then block type 7, which does not exist.
    entries[1].coded[3] = static_cast<uint8_t>((entries[1].coded[3] & 0x0F) | 0x70);
    entries[2].coded.resize(entries[2].coded.size() / 2);
    entries[3].data.resize(60000);  // the index claims 10000 bytes the stream lacks
    ContainerOptions options;
    options.compression = CONTAINER_COMPRESSION_LZX;
    ASSERT_TRUE(Write("bad.dat", entries, options));
    ASSERT_TRUE(Mount("bad", "bad.dat", 4));
    std::vector<uint8_t> out(100000);
    EXPECT_FALSE(Open("bad/bad_frame.bin")->Read(out.data(), 100000));
    EXPECT_TRUE(sink.Contains("corrupt LZX data"));
    auto cut = Open("bad/cut.bin");
    EXPECT_FALSE(cut->Read(out.data(), 100000));
    EXPECT_FALSE(cut->Read(out.data(), 1));  // stays failed
    EXPECT_TRUE(sink.Contains("ends early"));
    auto shortEntry = Open("bad/short.bin");
    ASSERT_TRUE(shortEntry->Read(out.data(), 50000));
    EXPECT_FALSE(shortEntry->Read(out.data(), 10000));
    EXPECT_EQ(ReadAll("bad/good.bin"), entries[0].data);
}

TEST_F(ContainerFixture, LookupIgnoresCaseAndLaterContainersOverrideEarlierOnes) {
    ASSERT_TRUE(reader.Start());
    const std::vector<uint8_t> first = MakeContent(5000, 1), second = MakeContent(6000, 2), only = MakeContent(10, 3);
    Write("x.dat", {{"common/fonts/a.bin", first, Coding::Compress2}, {"only.bin", only}});
    Write("x_001.dat", {{"common/fonts/a.bin", second}});
    for (const char* bad : {"", "a/b", "a\\b"}) EXPECT_FALSE(Mount(bad, "x.dat", 1, 1)) << bad;
    ASSERT_TRUE(Mount("Common", "x.dat", 1, 1));
    EXPECT_EQ(ReadAll("common/Common/Fonts/A.BIN"), second);
    EXPECT_EQ(ReadAll("COMMON/only.bin"), only);
    EXPECT_FALSE(Exists("common/missing.bin"));
    EXPECT_EQ(Open("common/missing.bin"), nullptr);
}

TEST_F(ContainerFixture, ExtraFilesAreNamedFromTheBaseAndCappedAtFour) {
    for (const char* name : {"x.dat", "x_001.dat", "x_002.dat", "x_003.dat", "x_004.dat"})
        Write(name, {{std::string(name) + ".txt", MakeContent(100, 1)}});
    // The cap holds for counts that would wrap 32-bit arithmetic too.
    const struct {
        uint32_t extra, containers;
        bool warned;
    } caps[] = {{2, 3, false}, {3, 4, false}, {4, 4, true}, {0xFFFFFFFFu, 4, true}};
    for (const auto& c : caps) {
        sink.Clear();
        FileSystemContainerMountPoint m(fsys.get(), "a", (dir / "x.dat").c_str(), 1, 0x5BD1E995, c.extra);
        ASSERT_EQ(m.ContainerCount(), c.containers) << c.extra;
        const std::string last = dir / ("x_00" + std::to_string(c.containers - 1));
        EXPECT_EQ(std::string(m.DatPath(c.containers - 1)), last + ".dat");
        EXPECT_EQ(std::string(m.IndexPath(c.containers - 1)), last + ".idx");
        EXPECT_EQ(sink.Contains("More than MAX_CONTAINER_FILE_NUM container files required"), c.warned) << c.extra;
    }

    // Adding through the file system numbers the new containers after those loaded;
    // extras are named from the base given (x_002.dat's extra 3 is x_002_003.dat, missing).
    ASSERT_TRUE(Mount("c", "x.dat", 1));
    ASSERT_TRUE(Mount("c", "x_001.dat", 1));
    EXPECT_TRUE(sink.Contains("Adding extra files to mounted container"));
    ASSERT_TRUE(Mount("c", "x_002.dat", 1, 1));
    EXPECT_TRUE(Exists("c/x_002.dat.txt"));
    EXPECT_FALSE(Exists("c/x_003.dat.txt"));
    ASSERT_TRUE(Mount("c", "x_003.dat", 1));
    EXPECT_TRUE(Exists("c/x_003.dat.txt"));
    EXPECT_FALSE(Mount("c", "x.dat", 1));
    EXPECT_TRUE(sink.Contains("AddExtraFiles failed - too many containers already added"));
    ASSERT_TRUE(Mount("e", "x.dat", 2));
    ASSERT_TRUE(Mount("e", "x_001.dat", 2, 0xFFFFFFFEu));
    EXPECT_TRUE(Exists("e/x_001.dat.txt"));
}

TEST_F(ContainerFixture, MissingExtraFileStillMountsAndWrongVersionStopsLoading) {
    const std::vector<Entry> one = {{"a.txt", MakeContent(10, 1)}};
    Write("y.dat", one);
    ASSERT_TRUE(Mount("y", "y.dat", 3, 1));
    EXPECT_TRUE(Exists("y/a.txt"));
    ContainerOptions bad;
    bad.version = 1;
    Write("z.dat", one);
    Write("z_001.dat", one, bad);
    Write("z_002.dat", one);
    FileSystemContainerMountPoint z(fsys.get(), "z", (dir / "z.dat").c_str(), 4, 0x5BD1E995, 2);
    EXPECT_TRUE(z.IsValid());
    EXPECT_EQ(z.ContainerCount(), 1u);
    EXPECT_TRUE(sink.Contains("wrong index file version"));
    Write("w.dat", one, bad);
    EXPECT_FALSE(Mount("w", "w.dat", 5));
    EXPECT_TRUE(sink.Contains("Unable to mount container"));
    EXPECT_FALSE(Mount("v", "nothing.dat", 5));
}

// Entries the data file cannot hold are dropped at mount with one line each.
TEST_F(ContainerFixture, EntriesTheDataFileCannotServeAreDroppedAtMount) {
    struct Case {
        const char* path;
        uint32_t offset, storedSize, size;
        bool compressed, kept;
    } cases[] = {
        {"ends_at_end", 0, 1000, 1000, false, true},
        {"one_past_end", 1, 1000, 1000, false, false},
        {"empty_at_end", 1000, 0, 0, false, true},
        {"offset_wraps", 0xFFFFFFFFu, 2, 2, false, false},
        {"stored_claims_more", 0, 100, 101, false, false},
        {"coded_may_expand", 0, 100, 5000, true, true},
        {"coded_past_end", 999, 2, 50, true, false},
    };
    std::vector<Entry> entries;
    std::vector<uint32_t> offsets, stored;
    for (const Case& c : cases) {
        entries.emplace_back(c.path, std::vector<uint8_t>(c.size, 1), c.compressed ? Coding::Precoded : Coding::Stored);
        offsets.push_back(c.offset);
        stored.push_back(c.storedSize);
    }
    ASSERT_TRUE(WriteWholeFile(dir / "b.dat", std::vector<uint8_t>(1000, 7)));
    ASSERT_TRUE(WriteWholeFile(dir / "b.idx", BuildIndex(entries, offsets, stored, ContainerOptions{})));
    ASSERT_TRUE(Mount("b", "b.dat", 6));
    size_t errors = 0;
    for (const auto& m : sink.Messages()) errors += m.severity == 4;
    EXPECT_EQ(errors, 4u);
    for (const Case& c : cases) {
        EXPECT_EQ(Exists(std::string("b/") + c.path), c.kept) << c.path;
        const uint32_t hash = ReferenceMurmur2(c.path, int(std::strlen(c.path)), ContainerOptions{}.seed, 0x5BD1E995);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", hash);
        EXPECT_EQ(sink.Contains(std::string("entry ") + hex), !c.kept) << c.path;
    }
    EXPECT_EQ(ReadAll("b/ends_at_end"), std::vector<uint8_t>(1000, 7));
}

// A compressed entry may claim no more contents than its stored bytes can decode to
// (zlib about 1032:1, an LZX frame of 32768 bytes per 2 header bytes); a larger claim
// is dropped at mount with one line naming the index and the entry, before anything
// of that size is allocated.
TEST_F(ContainerFixture, CompressedEntriesClaimingMoreThanTheirBytesCanGiveAreDropped) {
    struct Case {
        uint8_t compression;
        const char* path;
        uint64_t claim;  // UINT64_MAX: the real size; else bound + claim - 1000 (1000: exactly the bound)
        bool kept;
    } cases[] = {
        {1, "real.txt", UINT64_MAX, true},    {1, "all_ones.txt", 0xFFFFFFFFull, false},
        {1, "at_bound.txt", 1000, true},      {1, "past_bound.txt", 1001, false},
        {2, "lzx_real.bin", UINT64_MAX, true}, {2, "lzx_all_ones.bin", 0xFFFFFFFFull, false},
        {2, "lzx_at_bound.bin", 1000, true},  {2, "lzx_past_bound.bin", 1001, false},
    };
    for (uint8_t compression : {uint8_t(1), uint8_t(2)}) {
        SCOPED_TRACE(int(compression));
        std::vector<Entry> entries;
        for (const Case& c : cases)
            if (c.compression == compression)
                entries.push_back(compression == 1 ? Entry(c.path, MakeContent(2000, 9), Coding::Compress2)
                                                   : LzxEntry(c.path, 40000, 9));
        const std::string name = compression == 1 ? "z" : "l";
        ContainerOptions options;
        options.compression = compression;
        ASSERT_TRUE(WriteContainer(dir / (name + ".dat"), entries, options, dir.Path()));
        // Damage the index copy the same way an outside tool would: rewrite size words.
        std::vector<uint8_t> index = ReadWholeFile(dir / (name + ".idx"));
        for (const Case& c : cases) {
            if (c.compression != compression || c.claim == UINT64_MAX) continue;
            const uint32_t hash = ReferenceMurmur2(c.path, int(std::strlen(c.path)), options.seed, options.multiplier);
            for (size_t at = kContainerIndexHeader; at + kContainerIndexEntry <= index.size(); at += kContainerIndexEntry) {
                if (fs::LoadLE32(&index[at]) != hash) continue;
                const uint32_t stored = fs::LoadLE32(&index[at + 12]);
                const uint64_t claim = c.claim == 0xFFFFFFFFull ? c.claim : ContainerDecodedSizeBound(compression, stored) + c.claim - 1000;
                ASSERT_LE(claim, 0xFFFFFFFFull);
                const auto word = static_cast<uint32_t>(claim);
                std::memcpy(&index[at + 8], &word, 4);
            }
        }
        ASSERT_TRUE(WriteWholeFile(dir / (name + ".idx"), index));
        sink.Clear();
        ASSERT_TRUE(Mount(name.c_str(), (name + ".dat").c_str(), compression == 1 ? 6 : 7));
        size_t lines = 0;
        for (const auto& m : sink.Messages()) lines += m.severity == 4;
        EXPECT_EQ(lines, 2u);
        for (const Case& c : cases) {
            if (c.compression != compression) continue;
            EXPECT_EQ(Exists(name + "/" + c.path), c.kept) << c.path;
            const uint32_t hash = ReferenceMurmur2(c.path, int(std::strlen(c.path)), options.seed, options.multiplier);
            char hex[16];
            std::snprintf(hex, sizeof hex, "%08X", hash);
            EXPECT_EQ(sink.Contains(std::string("entry ") + hex + " of " + dir / (name + ".idx")), !c.kept)
                << c.path;
        }
        const Entry& real = entries.front().path == cases[compression == 1 ? 0 : 4].path ? entries.front() : entries.back();
        EXPECT_EQ(ReadAll(name + "/" + real.path), real.data);
    }
}

// A data file cut after mounting: a read reaching the missing bytes fails with one line
// naming the entry, through the read-ahead buffers and the direct read alike.
TEST_F(ContainerFixture, DataCutAfterMountingFailsReadsWithOneLine) {
    ASSERT_TRUE(reader.Start());
    const std::vector<Entry> entries = {{"a.bin", MakeContent(300000, 1), Coding::Stored},
                                        {"b.bin", MakeContent(100000, 2), Coding::Compress2}};
    Write("s.dat", entries);
    ASSERT_TRUE(Mount("s", "s.dat", 6));
    std::vector<uint8_t> dat = ReadWholeFile(dir / "s.dat");
    dat.resize(250000);
    WriteWholeFile(dir / "s.dat", dat);
    struct Case {
        const char* name;
        uint32_t first, second;  // two reads in a row
        bool firstOk;            // the first stays within the data left
    } cases[] = {{"s/a.bin", 300000, 0, false},
                 {"s/a.bin", 1000, 299000, true},
                 {"s/a.bin", 240000, 60000, true},
                 {"s/b.bin", 1000, 99000, false}};
    std::vector<uint8_t> out(300000);
    for (const Case& c : cases) {
        sink.Clear();
        auto s = Open(c.name);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->Read(out.data(), c.first), c.firstOk) << c.name << " " << c.first;
        EXPECT_FALSE(c.firstOk && s->Read(out.data(), c.second)) << c.name << " " << c.first;
        EXPECT_FALSE(s->Read(out.data(), 1));  // stays failed
        const auto messages = sink.Messages();
        ASSERT_EQ(messages.size(), 1u) << c.name << " " << c.first;
        EXPECT_NE(messages[0].text.find(c.name + 1), std::string::npos);
    }
}

TEST_F(ContainerFixture, CorruptIndexesFailBeforeAllocating) {
    Write("s.dat", {{"a.bin", MakeContent(1000, 1)}});
    ContainerIndex index;  // a reload frees the entries it replaces
    ASSERT_TRUE(index.Load((dir / "s.idx").c_str()) && index.Load((dir / "s.idx").c_str()));
    // A count larger than the file holds is refused before anything is allocated.
    std::vector<uint8_t> idx = ReadWholeFile(dir / "s.idx");
    std::fill(idx.begin() + 3, idx.begin() + 6, 0xFF);
    idx[6] = 0x0F;
    WriteWholeFile(dir / "s.idx", idx);
    EXPECT_FALSE(index.Load((dir / "s.idx").c_str()));
    EXPECT_TRUE(sink.Contains("do not fit"));
    idx.resize(5);
    WriteWholeFile(dir / "s.idx", idx);
    EXPECT_FALSE(index.Load((dir / "s.idx").c_str()));
    EXPECT_TRUE(sink.Contains("truncated index"));
}

// A second set of a data kind in use (the reader's kept-open file slot) is refused.
TEST_F(ContainerFixture, ASecondSetOfADataKindInUseIsRefusedAndTheFirstKeepsItsData) {
    ASSERT_TRUE(reader.Start());
    const std::vector<uint8_t> a = MakeContent(5000, 1), b = MakeContent(5000, 2);
    Write("a.dat", {{"x.bin", a}});
    Write("b.dat", {{"x.bin", b}});
    ASSERT_TRUE(Mount("a", "a.dat", 3));
    EXPECT_FALSE(Mount("b", "b.dat", 3));
    EXPECT_TRUE(sink.Contains("data kind 3 is already used by mount point a"));
    EXPECT_FALSE(Exists("b/x.bin"));
    // Another kind, or none (11: every read opens the file by its path), is fine.
    for (auto [name, kind] : {std::pair{"b4", 4u}, std::pair{"b11", 11u}}) {
        ASSERT_TRUE(Mount(name, "b.dat", kind));
        EXPECT_EQ(ReadAll(name + std::string("/x.bin")), b);
    }
    EXPECT_EQ(ReadAll("a/x.bin"), a);
}

// A zlib or gzip entry is only good when its stream ends with the entry and its check
// value matches: flipping any byte either fails the read or changes nothing.
TEST_F(ContainerFixture, ZlibAndGzipEntriesMustEndWithAMatchingCheckValue) {
    ASSERT_TRUE(reader.Start());
    const std::vector<uint8_t> data = MakeContent(1500, 5);
    for (Coding coding : {Coding::Compress2, Coding::Gzip}) {
        const std::vector<uint8_t> coded = coding == Coding::Gzip ? GzipWithProgram(data, dir.Path()) : Compress2(data);
        ASSERT_FALSE(coded.empty());
        std::vector<Entry> entries;
        for (size_t at = 0; at < coded.size(); ++at) {
            std::vector<uint8_t> flipped = coded;
            flipped[at] ^= static_cast<uint8_t>(1u << (at % 8));
            entries.emplace_back("flip/" + std::to_string(at), data, Coding::Precoded, flipped);
        }
        std::vector<uint8_t> trailer = coded;
        trailer.back() ^= 0x10;
        entries.emplace_back("cut", data, Coding::Precoded, std::vector<uint8_t>(coded.begin(), coded.end() - 4));
        entries.emplace_back("trailer", data, Coding::Precoded, trailer);
        entries.emplace_back("decodes_past", std::vector<uint8_t>(data.begin(), data.end() - 1), Coding::Precoded, coded);
        ASSERT_TRUE(Write("z.dat", entries));
        fsys = std::make_unique<FileSystem>(&reader);
        ASSERT_TRUE(Mount("z", "z.dat", 7));
        std::vector<uint8_t> out(data.size());
        size_t failed = 0;
        for (size_t at = 0; at < coded.size(); ++at) {
            auto s = Open("z/flip/" + std::to_string(at));
            const bool ok = s->Read(out.data(), static_cast<uint32_t>(out.size()));
            EXPECT_TRUE(!ok || out == data) << "flipped byte " << at;
            failed += !ok;
        }
        EXPECT_GT(failed, coded.size() / 2);
        struct Bad {
            const char* name;
            const char* message;
        } bad[] = {{"z/cut", "does not end"}, {"z/trailer", "incorrect"}, {"z/decodes_past", "past the entry"}};
        for (const Bad& b : bad) {
            sink.Clear();
            auto s = Open(b.name);
            // The last byte is skipped: the check still runs when it is produced.
            EXPECT_TRUE(s->Read(out.data(), s->GetSize() - 1)) << b.name;
            EXPECT_FALSE(s->Read(nullptr, 1)) << b.name;
            const auto m = sink.Messages();
            ASSERT_EQ(m.size(), 1u) << b.name;
            EXPECT_NE(m[0].text.find(b.name + 1), std::string::npos) << m[0].text;
            EXPECT_NE(m[0].text.find(b.message), std::string::npos) << m[0].text;
        }
    }
}

// A large stored read is one reader job into the caller's buffer; a large skip reads nothing.
TEST_F(ContainerFixture, LargeStoredReadsAreOneJobAndLargeSkipsReadNothing) {
    ASSERT_TRUE(reader.Start());
    const std::vector<uint8_t> data = MakeContent(1 << 20, 3);
    Write("l.dat", {{"big.bin", data}});
    ASSERT_TRUE(Mount("l", "l.dat", 5));
    struct Step {
        uint32_t size;
        bool skip;
        uint32_t jobs;  // reads posted by this step: the direct one, buffers refilled behind it
    } steps[] = {{10, false, 0}, {kContainerReadAheadBytes, false, 1}, {500000, false, 1 + 3}, {400000, true, 3}, {100, false, 0}};
    auto s = Open("l/big.bin");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(reader.Posted(), kContainerReadAheadBuffers);
    uint32_t at = 0;
    std::vector<uint8_t> out(500000);
    for (const Step& step : steps) {
        const uint32_t before = reader.Posted();
        ASSERT_TRUE(s->Read(step.skip ? nullptr : out.data(), step.size)) << at;
        EXPECT_EQ(reader.Posted() - before, step.jobs) << at;
        EXPECT_TRUE(step.skip || std::equal(out.begin(), out.begin() + step.size, data.begin() + at)) << at;
        at += step.size;
    }
}

// A direct read long enough to wake its owner before its last part: whole, or cut in
// either part, in which case it fails with one line.
TEST_F(ContainerFixture, DirectReadsWithAnEarlyCallEndWholeOrFailOnACut) {
    ASSERT_TRUE(reader.Start());
    const uint32_t tail = PhysicalFileReader::kEndingCallBytes;
    const std::vector<uint8_t> data = MakeContent(2 * tail + 200003, 4);
    Write("e.dat", {{"e.bin", data}});
    ASSERT_TRUE(Mount("e", "e.dat", 7));
    const std::vector<uint8_t> dat = ReadWholeFile(dir / "e.dat");
    const size_t cuts[] = {0, 1, tail - 1, tail + 1, tail + 4096};  // bytes of the entry missing at its end
    std::vector<uint8_t> out(data.size());
    for (size_t cut : cuts) {
        WriteWholeFile(dir / "e.dat", std::vector<uint8_t>(dat.begin(), dat.begin() + std::ptrdiff_t(data.size() - cut)));
        sink.Clear();
        std::fill(out.begin(), out.end(), 0);
        auto s = Open("e/e.bin");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->Read(out.data(), uint32_t(out.size())), cut == 0) << cut;
        if (cut == 0) {
            EXPECT_EQ(out, data);
        } else {
            EXPECT_EQ(sink.Messages().size(), 1u) << cut;
        }
    }
}

TEST_F(ContainerFixture, OpeningTheAnnouncedFileBeforeItsPreheatCancelsThePreheat) {
    // A loader that reads the announced file ahead by itself: a stream preheated for it
    // afterwards would stay held and make every later open a conflict.
    ASSERT_TRUE(reader.Start());
    const std::vector<Entry> entries = {{"a.bin", MakeContent(1000, 1)}, {"b.bin", MakeContent(2000, 2)}};
    Write("q.dat", entries);
    ASSERT_TRUE(Mount("q", "q.dat", 8));
    fsys->SetPreheatFile("q/b.bin", nullptr, nullptr, 0);
    EXPECT_EQ(ReadAll("q/b.bin"), entries[1].data);
    EXPECT_EQ(ReadAll("q/a.bin"), entries[0].data);
    EXPECT_EQ(ReadAll("q/b.bin"), entries[1].data);
    EXPECT_FALSE(sink.Contains("Preheated stream conflict"));
    EXPECT_FALSE(sink.Contains("not consumed"));
}

TEST_F(ContainerFixture, PreheatingOpensTheAnnouncedStreamAfterTheLastReadAhead) {
    ASSERT_TRUE(reader.Start());
    const std::vector<Entry> entries = {{"a.bin", MakeContent(50000, 1), Coding::Compress2},
                                        {"b.bin", MakeContent(60000, 2)}, {"c.bin", MakeContent(70000, 3), Coding::Gzip}};
    Write("p.dat", entries);
    ASSERT_TRUE(Mount("p", "p.dat", 8));

    fsys->SetPreheatFile("b", "bin", "p", 0);
    EXPECT_EQ(ReadAll("p/a.bin"), entries[0].data);  // a's read-ahead covers it: b is preheated
    EXPECT_EQ(ReadAll("p/b.bin"), entries[1].data);  // takes the preheated stream
    EXPECT_FALSE(sink.Contains("Preheated stream conflict"));

    fsys->SetPreheatFile("p/c.bin", nullptr, nullptr, 0);
    fsys->PreheatNextStream();
    EXPECT_EQ(ReadAll("p/a.bin"), entries[0].data);  // not the preheated one
    EXPECT_TRUE(sink.Contains("Preheated stream conflict. Serious performance degradation occured! Expected: p/c.bin, got: p/a.bin"));
    fsys->SetPreheatFile("p/b.bin", nullptr, nullptr, 0);
    fsys->PreheatNextStream();
    EXPECT_TRUE(sink.Contains("Previous preheated stream not consumed. Serious performance degradation occured!"));
    EXPECT_EQ(ReadAll("P/B.bin"), entries[1].data);

    // An unconsumed stream goes even when the next one cannot be opened.
    fsys->SetPreheatFile("p/b.bin", nullptr, nullptr, 0);
    fsys->PreheatNextStream();
    fsys->SetPreheatFile("p/none.bin", nullptr, nullptr, 0);
    fsys->PreheatNextStream();
    EXPECT_TRUE(sink.Contains("Cannot preheat input stream: p/none.bin. Serious performance degradation occured!"));
    EXPECT_EQ(ReadAll("p/b.bin"), entries[1].data);
}

// The shutdown drops global mounts and a preheated stream before the reader they use.
TEST_F(ContainerFixture, ShutdownWithAPreheatedGlobalStreamAndRunningReader) {
    Write("g.dat", {{"a.bin", MakeContent(50000, 1), Coding::Compress2}, {"b.bin", MakeContent(60000, 2)}});
    ASSERT_TRUE(gPhysicalFileReader.Start());
    ASSERT_TRUE(gFileSystem.MountContainer("g", (dir / "g.dat").c_str(), 10, 0x5BD1E995, 0));
    gFileSystem.SetPreheatFile("g/b.bin", nullptr, nullptr, 0);
    gFileSystem.PreheatNextStream();
    RunStaticShutdown();
    ASSERT_TRUE(RunStaticInit());
    EXPECT_FALSE(gPhysicalFileReader.IsRunning());
    EXPECT_FALSE(gFileSystem.FileExists("g/a.bin", nullptr, nullptr));
}

TEST_F(ContainerFixture, DroppingAStreamWithReadsInFlightWaitsForThem) {
    ASSERT_TRUE(reader.Start());
    const std::vector<uint8_t> data = MakeContent(300000, 1);
    Write("d.dat", {{"a.bin", data}});
    ASSERT_TRUE(Mount("d", "d.dat", 9));
    for (int i = 0; i < 20; ++i) ASSERT_NE(Open("d/a.bin"), nullptr);
    EXPECT_EQ(ReadAll("d/a.bin"), data);
}

TEST(BlockDecompressor, StoredCopiesWhatFitsAndMissingBuffersUnknownKindsAndBadDataFail) {
    uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8}, out[8];
    for (uint32_t kind : {0u, 1u, 2u}) {
        for (bool sourceMissing : {true, false}) {
            BlockDecompressor d(kind);
            uint32_t in = 4, room = 4;
            EXPECT_FALSE(d.Decompress(sourceMissing ? nullptr : bytes, &in, sourceMissing ? out : nullptr, &room)) << kind;
            EXPECT_EQ(in + room, 0u);
        }
    }
    BlockDecompressor stored(0);  // copies what fits
    uint32_t in = 8, room = 5;
    ASSERT_TRUE(stored.Decompress(bytes, &in, out, &room));
    EXPECT_TRUE(in == 5 && room == 5 && std::memcmp(out, bytes, 5) == 0);
    const struct {
        uint32_t kind;
        const char* error;
    } bad[] = {{7, "unknown compression kind"}, {1, "corrupt zlib data"}};
    for (const auto& b : bad) {
        BlockDecompressor d(b.kind);
        uint32_t in = sizeof bytes, room = sizeof out;
        EXPECT_FALSE(d.Decompress(bytes, &in, out, &room));
        EXPECT_NE(std::string(d.ErrorText()).find(b.error), std::string::npos) << d.ErrorText();
    }
}

}  // namespace
