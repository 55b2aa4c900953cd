// Container sets written by the independent builder and read back through the file
// system: index byte orders, stored / gzip / compress2 entries, read-ahead across
// buffers, several streams at once, overrides, extra files and failure cases.
// test-sanitize: thread address
// test-link: z
// test-sources: ContainerBuilder.cpp
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "CaptureLogSink.h"
#include "ContainerBuilder.h"
#include "core/StaticInit.h"
#include "core/fs/FileSystem.h"
#include "core/fs/FileSystemContainer.h"
#include "core/fs/PhysicalFileReader.h"

using namespace testfs;

namespace {

// The SMHasher verification value of MurmurHash2 (m = 0x5BD1E995): hashes of the keys
// {}, {0}, {0,1}, ... {0..254} with seeds 256 - length, hashed again with seed 0.
uint32_t Verification(uint32_t (*hash)(const void*, uint32_t, uint32_t)) {
    uint8_t key[256];
    uint8_t hashes[256 * 4];
    for (int i = 0; i < 256; ++i) {
        key[i] = static_cast<uint8_t>(i);
        const uint32_t h = hash(key, static_cast<uint32_t>(i), 256u - i);
        std::memcpy(hashes + 4 * i, &h, 4);
    }
    return hash(hashes, sizeof hashes, 0);
}

TEST(MurmurHash2, MatchesReferenceVectorsAndIndependentCode) {
    EXPECT_EQ(Verification([](const void* p, uint32_t n, uint32_t s) { return MurmurHash2(p, n, s, 0x5BD1E995); }), 0x27864C1Eu);
    EXPECT_EQ(MurmurHash2("", 0, 0, 0x5BD1E995), 0u);
    std::mt19937 rng(7);
    for (int i = 0; i < 500; ++i) {
        std::string s(rng() % 40, ' ');
        for (char& c : s) c = static_cast<char>(rng());
        const uint32_t seed = rng(), m = rng() | 1;
        EXPECT_EQ(MurmurHash2(s.data(), static_cast<uint32_t>(s.size()), seed, m), ReferenceMurmur2(s.data(), static_cast<int>(s.size()), seed, m));
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
    std::vector<uint8_t> ReadAll(const char* name) {
        std::unique_ptr<FileSystemInputStream> s(fsys->OpenInputStream(name, nullptr, nullptr, 0));
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

class ContainerRoundTrip : public ContainerFixture, public ::testing::WithParamInterface<std::tuple<uint8_t, bool>> {};

TEST_P(ContainerRoundTrip, EveryEntryReadsBackWholeAndInRandomChunksWithSeveralStreamsAtOnce) {
    const auto [tag, threaded] = GetParam();
    if (threaded) {
        ASSERT_TRUE(reader.Start());
    }
    const std::vector<Entry> entries = StandardEntries();
    ContainerOptions options;
    options.platformTag = tag;
    ASSERT_TRUE(WriteContainer(dir / "data.dat", entries, options, dir.Path()));
    ASSERT_TRUE(fsys->MountContainer("data", (dir / "data.dat").c_str(), 2, 0x5BD1E995, 1));
    EXPECT_TRUE(sink.Contains("Container mounted successfully"));

    for (const Entry& e : entries) {
        const std::string name = "data/" + e.path;
        EXPECT_TRUE(fsys->FileExists(name.c_str(), nullptr, nullptr));
        EXPECT_EQ(ReadAll(name.c_str()), e.data) << e.path;
    }
    // All entries open at once, read in interleaved random pieces.
    std::mt19937 rng(tag * 31 + threaded);
    std::vector<std::unique_ptr<FileSystemInputStream>> streams;
    std::vector<FileSystemInputStream*> raw;
    std::vector<const std::vector<uint8_t>*> sources;
    for (const Entry& e : entries) {
        streams.emplace_back(fsys->OpenInputStream(("data/" + e.path).c_str(), nullptr, nullptr, 0));
        ASSERT_NE(streams.back(), nullptr);
        raw.push_back(streams.back().get());
        sources.push_back(&e.data);
    }
    EXPECT_EQ(CheckInterleavedReads(raw, sources, 40000, rng), "");
    streams.clear();
    for (const Entry& e : entries) {
        std::unique_ptr<FileSystemInputStream> s(fsys->OpenInputStream(("data/" + e.path).c_str(), nullptr, nullptr, 0));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->GetFileTime(), 0u);
        uint8_t c;
        EXPECT_FALSE(s->ReadChar(&c));
        EXPECT_EQ(CheckChunkedRead(s.get(), e.data, rng), "") << e.path;
    }
    EXPECT_FALSE(sink.Contains("short read"));
}

INSTANTIATE_TEST_SUITE_P(TagsAndThreads, ContainerRoundTrip,
                         ::testing::Combine(::testing::Values<uint8_t>(0, 1, 5, 11), ::testing::Bool()));

TEST_F(ContainerFixture, BigEndianTagsSwapCountSeedAndEntryWords) {
    std::vector<Entry> entries = {{"x.bin", MakeContent(1000, 9), Coding::Stored}};
    for (uint8_t tag : {1, 5, 2}) {
        ContainerOptions options;
        options.platformTag = tag;
        options.seed = 0x01020304;
        WriteContainer(dir / "t.dat", entries, options, dir.Path());
        ContainerIndex index;
        ASSERT_TRUE(index.Load((dir / "t.idx").c_str()));
        EXPECT_EQ(index.IsBigEndian(), tag != 2);
        EXPECT_EQ(index.Seed(), 0x01020304u);
        ASSERT_EQ(index.Count(), 1u);
        EXPECT_EQ(index.Entries()[0].size, 1000u);
        EXPECT_TRUE(index.Find("/X.BIN", nullptr));
    }
}

TEST_F(ContainerFixture, LookupIgnoresCaseAndLaterContainersOverrideEarlierOnes) {
    ASSERT_TRUE(reader.Start());
    ContainerOptions options;
    const std::vector<uint8_t> first = MakeContent(5000, 1), second = MakeContent(6000, 2), only = MakeContent(10, 3);
    WriteContainer(dir / "x.dat", {{"common/fonts/a.bin", first, Coding::Compress2}, {"only.bin", only, Coding::Stored}}, options, dir.Path());
    WriteContainer(dir / "x_001.dat", {{"common/fonts/a.bin", second, Coding::Stored}}, options, dir.Path());
    ASSERT_TRUE(fsys->MountContainer("Common", (dir / "x.dat").c_str(), 1, 0x5BD1E995, 1));
    EXPECT_EQ(ReadAll("common/Common/Fonts/A.BIN"), second);
    EXPECT_EQ(ReadAll("COMMON/only.bin"), only);
    EXPECT_FALSE(fsys->FileExists("common/missing.bin", nullptr, nullptr));
    EXPECT_EQ(fsys->OpenInputStream("common/missing.bin", nullptr, nullptr, 0), nullptr);
}

TEST_F(ContainerFixture, ExtraFilesAreNamedFromTheBaseAndCappedAtFour) {
    ContainerOptions options;
    for (const char* name : {"x.dat", "x_001.dat", "x_002.dat", "x_003.dat", "x_004.dat"})
        WriteContainer(dir / name, {{std::string(name) + ".txt", MakeContent(100, 1), Coding::Stored}}, options, dir.Path());
    FileSystemContainerMountPoint three(fsys.get(), "a", (dir / "x.dat").c_str(), 1, 0x5BD1E995, 3);
    ASSERT_EQ(three.ContainerCount(), 4u);
    EXPECT_EQ(std::string(three.DatPath(3)), dir / "x_003.dat");
    EXPECT_EQ(std::string(three.IndexPath(3)), dir / "x_003.idx");
    EXPECT_FALSE(sink.Contains("More than MAX_CONTAINER_FILE_NUM"));

    FileSystemContainerMountPoint four(fsys.get(), "b", (dir / "x.dat").c_str(), 1, 0x5BD1E995, 4);
    EXPECT_TRUE(sink.Contains("More than MAX_CONTAINER_FILE_NUM container files required"));
    ASSERT_EQ(four.ContainerCount(), 4u);
    EXPECT_EQ(std::string(four.DatPath(3)), dir / "x_003.dat");

    // Adding through the file system numbers the new containers after those loaded.
    ASSERT_TRUE(fsys->MountContainer("c", (dir / "x.dat").c_str(), 1, 0x5BD1E995, 0));
    ASSERT_TRUE(fsys->MountContainer("c", (dir / "x_001.dat").c_str(), 1, 0x5BD1E995, 0));
    EXPECT_TRUE(sink.Contains("Adding extra files to mounted container"));
    // Extras are named from the base given: x_002.dat's extra number 3 is x_002_003.dat,
    // which is missing, so one container more.
    ASSERT_TRUE(fsys->MountContainer("c", (dir / "x_002.dat").c_str(), 1, 0x5BD1E995, 1));
    EXPECT_TRUE(fsys->FileExists("c/x_002.dat.txt", nullptr, nullptr));
    EXPECT_FALSE(fsys->FileExists("c/x_003.dat.txt", nullptr, nullptr));
    ASSERT_TRUE(fsys->MountContainer("c", (dir / "x_003.dat").c_str(), 1, 0x5BD1E995, 0));
    EXPECT_TRUE(fsys->FileExists("c/x_003.dat.txt", nullptr, nullptr));
    EXPECT_FALSE(fsys->MountContainer("c", (dir / "x.dat").c_str(), 1, 0x5BD1E995, 0));
    EXPECT_TRUE(sink.Contains("AddExtraFiles failed - too many containers already added"));

    // Counts that wrap 32-bit arithmetic are capped like any other large count.
    sink.Clear();
    FileSystemContainerMountPoint huge(fsys.get(), "d", (dir / "x.dat").c_str(), 1, 0x5BD1E995, 0xFFFFFFFFu);
    EXPECT_TRUE(sink.Contains("More than MAX_CONTAINER_FILE_NUM container files required"));
    EXPECT_EQ(huge.ContainerCount(), 4u);
    ASSERT_TRUE(fsys->MountContainer("e", (dir / "x.dat").c_str(), 1, 0x5BD1E995, 0));
    ASSERT_TRUE(fsys->MountContainer("e", (dir / "x_001.dat").c_str(), 1, 0x5BD1E995, 0xFFFFFFFEu));
    EXPECT_TRUE(fsys->FileExists("e/x_001.dat.txt", nullptr, nullptr));
}

TEST_F(ContainerFixture, MissingExtraFileStillMountsAndWrongVersionStopsLoading) {
    ContainerOptions options;
    WriteContainer(dir / "y.dat", {{"a.txt", MakeContent(10, 1), Coding::Stored}}, options, dir.Path());
    ASSERT_TRUE(fsys->MountContainer("y", (dir / "y.dat").c_str(), 3, 0x5BD1E995, 1));
    EXPECT_TRUE(fsys->FileExists("y/a.txt", nullptr, nullptr));

    WriteContainer(dir / "z.dat", {{"a.txt", MakeContent(10, 1), Coding::Stored}}, options, dir.Path());
    ContainerOptions bad = options;
    bad.version = 1;
    WriteContainer(dir / "z_001.dat", {{"b.txt", MakeContent(10, 1), Coding::Stored}}, bad, dir.Path());
    WriteContainer(dir / "z_002.dat", {{"c.txt", MakeContent(10, 1), Coding::Stored}}, options, dir.Path());
    FileSystemContainerMountPoint z(fsys.get(), "z", (dir / "z.dat").c_str(), 4, 0x5BD1E995, 2);
    EXPECT_TRUE(z.IsValid());
    EXPECT_EQ(z.ContainerCount(), 1u);
    EXPECT_TRUE(sink.Contains("wrong index file version"));

    WriteContainer(dir / "w.dat", {{"a.txt", MakeContent(10, 1), Coding::Stored}}, bad, dir.Path());
    EXPECT_FALSE(fsys->MountContainer("w", (dir / "w.dat").c_str(), 5, 0x5BD1E995, 0));
    EXPECT_TRUE(sink.Contains("Unable to mount container"));
    EXPECT_FALSE(fsys->MountContainer("v", (dir / "nothing.dat").c_str(), 5, 0x5BD1E995, 0));
}

TEST_F(ContainerFixture, CorruptIndexesAndShortDataFailCleanly) {
    ASSERT_TRUE(reader.Start());
    ContainerOptions options;
    const std::vector<Entry> entries = {{"a.bin", MakeContent(100000, 1), Coding::Stored},
                                        {"b.bin", MakeContent(100000, 2), Coding::Compress2}};
    WriteContainer(dir / "s.dat", entries, options, dir.Path());
    // The data file loses its tail: the index still promises the bytes.
    std::vector<uint8_t> dat = ReadWholeFile(dir / "s.dat");
    dat.resize(90000);
    WriteWholeFile(dir / "s.dat", dat);
    ASSERT_TRUE(fsys->MountContainer("s", (dir / "s.dat").c_str(), 6, 0x5BD1E995, 0));
    for (const char* name : {"s/a.bin", "s/b.bin"}) {
        std::unique_ptr<FileSystemInputStream> s(fsys->OpenInputStream(name, nullptr, nullptr, 0));
        ASSERT_NE(s, nullptr);
        std::vector<uint8_t> out(100000);
        EXPECT_FALSE(s->Read(out.data(), 100000)) << name;
    }
    EXPECT_TRUE(sink.Contains("short read"));

    // A count larger than the file holds is refused before anything is allocated.
    std::vector<uint8_t> idx = ReadWholeFile(dir / "s.idx");
    idx[3] = 0xFF;
    idx[4] = 0xFF;
    idx[5] = 0xFF;
    idx[6] = 0x0F;
    WriteWholeFile(dir / "s.idx", idx);
    ContainerIndex index;
    EXPECT_FALSE(index.Load((dir / "s.idx").c_str()));
    EXPECT_TRUE(sink.Contains("do not fit"));
    idx.resize(5);
    WriteWholeFile(dir / "s.idx", idx);
    EXPECT_FALSE(index.Load((dir / "s.idx").c_str()));
    EXPECT_TRUE(sink.Contains("truncated index"));
}

TEST_F(ContainerFixture, PreheatingOpensTheAnnouncedStreamAfterTheLastReadAhead) {
    ASSERT_TRUE(reader.Start());
    ContainerOptions options;
    const std::vector<Entry> entries = {{"a.bin", MakeContent(50000, 1), Coding::Compress2},
                                        {"b.bin", MakeContent(60000, 2), Coding::Stored},
                                        {"c.bin", MakeContent(70000, 3), Coding::Gzip}};
    WriteContainer(dir / "p.dat", entries, options, dir.Path());
    ASSERT_TRUE(fsys->MountContainer("p", (dir / "p.dat").c_str(), 8, 0x5BD1E995, 0));

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

    fsys->SetPreheatFile("p/none.bin", nullptr, nullptr, 0);
    fsys->PreheatNextStream();
    EXPECT_TRUE(sink.Contains("Cannot preheat input stream: p/none.bin. Serious performance degradation occured!"));
}

// The global file system outlives the global reader it uses: the shutdown drops the
// mounts and a preheated stream before the reader goes, and start-up rebuilds both.
TEST_F(ContainerFixture, ShutdownWithAPreheatedGlobalStreamAndRunningReader) {
    ContainerOptions options;
    const std::vector<Entry> entries = {{"a.bin", MakeContent(50000, 1), Coding::Compress2},
                                        {"b.bin", MakeContent(60000, 2), Coding::Stored}};
    WriteContainer(dir / "g.dat", entries, options, dir.Path());
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
    ContainerOptions options;
    WriteContainer(dir / "d.dat", {{"a.bin", MakeContent(300000, 1), Coding::Stored}}, options, dir.Path());
    ASSERT_TRUE(fsys->MountContainer("d", (dir / "d.dat").c_str(), 9, 0x5BD1E995, 0));
    for (int i = 0; i < 20; ++i) {
        std::unique_ptr<FileSystemInputStream> s(fsys->OpenInputStream("d/a.bin", nullptr, nullptr, 0));
        ASSERT_NE(s, nullptr);
    }
    std::vector<uint8_t> out(300000);
    std::unique_ptr<FileSystemInputStream> s(fsys->OpenInputStream("d/a.bin", nullptr, nullptr, 0));
    EXPECT_TRUE(s->Read(out.data(), 300000));
}

}  // namespace
