// Cloud copies from a damaged or hostile store. Each input is up to four records {u8
// file (0 "progress", 1 "progress.alt", 2 "results", 3 "results.alt"; bit 7: wrap the
// bytes as a well-formed copy with the right tag, layout value and checksum), u32 stamp
// (wrapped copies), u16 length, the bytes}. The files are put into an in-process
// broker's store and a profile logs in, loading them. Afterwards the data are whole:
// every mission of the table with its three distinctions (missions outside the table stay as loaded), and both objects save.
// Seeds are payloads of the independent writer (tests/support/cloudfile.py).
// test-link: broker_server
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ProgramStaticInit.h"
#include "core/CRC32.h"
#include "net/online/PCMacGamerProfile.h"
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"

namespace {

const char* const kFiles[4] = {"progress", "progress.alt", "results", "results.alt"};

struct World {
    online::LocalBroker broker;
    std::unique_ptr<online::OnlineContext> ctx;
    uint32_t layouts[2] = {};
    World() {
        online::StatsSchema schema;
        broker.Open("", schema, nullptr);
        online::ClientConfig c;
        c.account = 1;
        ctx = broker.CreateClient(c);
        PCMacGamerProfileData::PCMacGamerProfileProgressData p;
        PCMacGamerProfileData::PCMacGamerProfileResultsData r;
        layouts[0] = p.GetRTTIClass()->GetLayoutHash(&p);
        layouts[1] = r.GetRTTIClass()->GetLayoutHash(&r);
    }
};
World* gWorld = nullptr;

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "cloud_file_fuzz: %s\n", what);
    std::abort();
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> Wrap(uint32_t file, uint32_t stamp, const uint8_t* bytes, size_t n) {
    std::vector<uint8_t> out;
    Put32(out, file < 2 ? kProgressFileTag : kResultsFileTag);
    Put32(out, gWorld->layouts[file < 2 ? 0 : 1]);
    Put32(out, stamp);
    out.insert(out.end(), bytes, bytes + n);
    Put32(out, CRC32::GetDefault().Compute(bytes, n));
    return out;
}

std::vector<uint8_t> RunCloudFile(const char* spec) {
    char path[] = "/tmp/cloudfuzzXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    const std::string command =
        std::string("/usr/bin/python3 " PROJECT_SOURCE_ROOT "/tests/support/cloudfile.py payload ") + spec + " " + path;
    std::vector<uint8_t> bytes;
    if (std::system(command.c_str()) == 0) {
        FILE* f = std::fopen(path, "rb");
        int c;
        while (f && (c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
        if (f) std::fclose(f);
    }
    std::remove(path);
    return bytes;
}

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    struct Seed {
        uint8_t file;
        const char* spec;
    } seeds[] = {{0x80, "progress-sample"}, {0x81, "progress-default"}, {0x82, "results-m01"}, {0x83, "results-default"},
                 {0x82, "results-huge-count"}, {0x80, "empty"}};
    for (const Seed& s : seeds) {
        const std::vector<uint8_t> payload = RunCloudFile(s.spec);
        std::vector<uint8_t> in = {s.file, 5, 0, 0, 0, static_cast<uint8_t>(payload.size()),
                                   static_cast<uint8_t>(payload.size() >> 8)};
        in.insert(in.end(), payload.begin(), payload.end());
        add(in.data(), in.size());
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    gWorld = new World;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!gWorld) LLVMFuzzerInitialize(nullptr, nullptr);
    std::vector<uint8_t> files[4];
    size_t at = 0;
    for (int record = 0; record < 4 && size - at >= 7; ++record) {
        const uint8_t file = data[at];
        uint32_t stamp;
        std::memcpy(&stamp, data + at + 1, 4);
        const size_t length = std::min<size_t>(data[at + 5] | data[at + 6] << 8, size - at - 7);
        const uint8_t* bytes = data + at + 7;
        at += 7 + length;
        files[file & 3] = (file & 0x80) ? Wrap(file & 3, stamp, bytes, length) : std::vector<uint8_t>(bytes, bytes + length);
    }
    gWorld->broker.WithStore([&](online::BrokerStore& store) {
        for (int i = 0; i < 4; ++i) store.WriteFile(1, kFiles[i], files[i].data(), files[i].size());
        return true;
    });

    GamerProfile::ResetProcessState();
    {
        PCMacGamerProfile profile(gWorld->ctx.get(), nullptr);
        Check(profile.Login(nullptr), "log-in");
        const auto& missions = profile.Results().missions;
        Check(missions.Count() >= 15, "mission table incomplete");
        for (const char* id : ZKRGamerProfileData::kMissionIds) {
            const auto* m = profile.Results().FindMission(NameString(id));
            Check(m != nullptr, "mission missing");
            for (const char* type : ZKRGamerProfileData::kDistinctionTypes)
                Check(m->FindDistinction(type) != nullptr, "distinction missing");
        }
        profile.GetTotalScoreForAllMissions();
        profile.CheckProgressFlag("x");
        Check(profile.StoreProgress() && profile.StoreResults(), "save");
    }
    gWorld->ctx->RunCallbacks();
    return 0;
}
