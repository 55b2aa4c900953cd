// test-sanitize: thread address
// test-sources: ContainerBuilder.cpp
// test-link: z
// test-timeout: 120
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <random>

#include "CaptureLogSink.h"
#include "ContainerBuilder.h"
#include "core/BaseThread.h"
#include "core/fs/FileSystem.h"
#include "core/fs/StreamingFileReader.h"

using namespace testfs;

namespace {

// The loader double: runs jobs and pumps every reader about once a millisecond.
class LoaderThread : public BaseThread {
public:
    LoaderThread() : BaseThread("TestLoader", 0x10000, true, 1) {}

protected:
    void Tick() override {
        BaseThread::Tick();
        StreamingFileReader::PumpAll();
    }
};

struct StreamingFixture : ::testing::Test {
    TempDir dir;
    CaptureLogSink sink;
    LoaderThread loader;
    void SetUp() override {
        sink.Attach();
        ASSERT_TRUE(gFileSystem.MountDirectory("stream", dir.Path().c_str()));
        ASSERT_TRUE(loader.Start());
        StreamingFileReader::SetLoaderThread(&loader);
    }
    void TearDown() override {
        loader.Flush();
        StreamingFileReader::SetLoaderThread(nullptr);
        loader.Stop();
        gFileSystem.UnmountAll();
        sink.Detach();
    }
    // Runs f on a consumer thread; fails instead of hanging when it does not finish.
    template <class F>
    void OnConsumer(F f) {
        auto done = std::async(std::launch::async, f);
        ASSERT_EQ(done.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "consumer hung";
        done.get();
    }
};

TEST_F(StreamingFixture, MissingFileFailsAndReadsLogTheClosedFile) {
    StreamingFileReader* r = new StreamingFileReader(4096, "missing", "ogg", "stream", false);
    OnConsumer([&] {
        uint8_t b[16];
        EXPECT_EQ(r->Read(b, sizeof b), 0u);
    });
    EXPECT_TRUE(r->IsOpenOrFailed() && !r->IsOpen());
    EXPECT_TRUE(sink.Contains("Incorrect use of StreamingFileReader - trying to read from a closed file"));
    r->Release();

    // Settings that cannot work fail the open instead of hanging the consumer,
    // overflowing the ring or opening another file.
    WriteWholeFile(dir / "present.bin", MakeContent(3000, 1));
    WriteWholeFile(dir / "present", MakeContent(3000, 1));
    const std::string longExtension(300, 'x');
    for (auto settings : {std::make_pair(0u, "bin"), std::make_pair(0xFFFFFFF0u, "bin"), std::make_pair(4096u, longExtension.c_str())}) {
        StreamingFileReader* bad = new StreamingFileReader(settings.first, "present", settings.second, "stream", false);
        OnConsumer([&] {
            uint8_t b[16];
            EXPECT_EQ(bad->Read(b, sizeof b), 0u);
        });
        EXPECT_FALSE(bad->IsOpen());
        bad->Release();
    }
}

TEST_F(StreamingFixture, SmallFileIsReadAtOpen) {
    const std::vector<uint8_t> data = MakeContent(3000, 1);
    WriteWholeFile(dir / "small.bin", data);
    StreamingFileReader* r = new StreamingFileReader(8192, "small.bin", nullptr, "stream", false);
    OnConsumer([&] {
        std::vector<uint8_t> out(5000);
        ASSERT_EQ(r->Read(out.data(), 5000), 3000u);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
        EXPECT_EQ(r->Read(out.data(), 10), 0u);
    });
    r->Release();
}

TEST_F(StreamingFixture, LargeFileArrivesByteIdenticalInRandomChunksAndLoops) {
    const std::vector<uint8_t> data = MakeContent(5 * 1024 * 1024 + 17, 2);
    WriteWholeFile(dir / "music.ogg", data);
    StreamingFileReader* r = new StreamingFileReader(65536, "music", "ogg", "stream", true);
    OnConsumer([&] {
        std::mt19937 rng(5);
        std::vector<uint8_t> chunk;
        size_t total = 0;
        // Two and a half passes over the file: each pass ends with a 0 and a restart.
        for (int pass = 0; pass < 3; ++pass) {
            r->WaitUntilOpen();
            ASSERT_TRUE(r->IsOpen());
            size_t at = 0;
            const size_t limit = pass == 2 ? data.size() / 2 : data.size();
            while (at < limit) {
                const uint32_t want = 1 + rng() % 20000;
                chunk.assign(want, 0);
                const bool skip = rng() % 8 == 0;
                const uint32_t got = r->Read(skip ? nullptr : chunk.data(), want);
                ASSERT_GT(got, 0u);
                ASSERT_LE(at + got, data.size());
                ASSERT_TRUE(skip || std::equal(chunk.begin(), chunk.begin() + got, data.begin() + static_cast<long>(at)))
                    << "pass " << pass << " at " << at;
                at += got;
                total += got;
            }
            EXPECT_TRUE(pass == 2 || r->Read(chunk.data(), 1) == 0);  // the end of one pass
        }
        EXPECT_GT(total, 2 * data.size());
    });
    EXPECT_LE(r->PeakFill(), r->RingSize() - 256);
    r->Release();  // with refills possibly still queued: destroy runs after them
}

TEST_F(StreamingFixture, LoopingReaderWhoseFileVanishedReturnsInsteadOfSpinning) {
    const std::vector<uint8_t> data = MakeContent(100000, 3);
    WriteWholeFile(dir / "gone.bin", data);
    StreamingFileReader* r = new StreamingFileReader(16384, "gone.bin", nullptr, "stream", true);
    OnConsumer([&] {
        r->WaitUntilOpen();
        std::filesystem::remove(dir / "gone.bin");  // the open handle still reads the data
        std::vector<uint8_t> out(data.size());
        size_t at = 0;
        while (at < data.size()) {
            const uint32_t got = r->Read(out.data() + at, static_cast<uint32_t>(data.size() - at));
            ASSERT_GT(got, 0u);
            at += got;
        }
        EXPECT_EQ(out, data);
        r->WaitUntilOpen();  // restarts the count; the reopen found no file
        EXPECT_EQ(r->Read(out.data(), 1000), 0u);
    });
    r->Release();
}

TEST_F(StreamingFixture, WithoutALoaderJobsRunOnTheCaller) {
    StreamingFileReader::SetLoaderThread(nullptr);
    loader.Stop();
    const std::vector<uint8_t> data = MakeContent(50000, 4);
    WriteWholeFile(dir / "inline.bin", data);
    StreamingFileReader* r = new StreamingFileReader(4096, "stream/inline.bin", nullptr, nullptr, false);
    std::vector<uint8_t> out(data.size() + 10);
    size_t at = 0;
    while (uint32_t got = r->Read(out.data() + at, 777)) at += got;
    out.resize(at);
    EXPECT_EQ(out, data);
    r->Release();
}

}  // namespace
