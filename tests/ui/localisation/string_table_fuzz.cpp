// Fuzz target: arbitrary bytes as "L01n.bin" in a mounted "Common" folder, loaded by the
// string manager, then looked up: every path a loaded collection names, and every
// NUL-separated run of the input (so damaged files meet lookups of the ids they hold).
// Seeds are files written by tests/support/l01n.py.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "L01nTestSupport.h"
#include "ProgramStaticInit.h"
#include "core/fs/FileSystem.h"
#include "ui/localisation/CompiledGameStringCollection.h"
#include "ui/localisation/StringManager.h"

namespace {

std::string gFolder;
constexpr size_t kMaxProbedIds = 64;

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    const char* jsons[] = {
        R"({"strings": [{"path": "Menu/Title", "speaker": 2, "texts": {"English": "Sample", "German": "Beispiel"}},
                        {"path": "Menu/Start", "texts": {"Polish": "Start", "Korean": "\uc2dc\uc791"}},
                        {"path": "A", "notes": "n", "situation": "s", "actors": "a"}]})",
        R"({"strings_order": "reverse", "strings": [{"path": "x/y"}, {"path": "x"}]})",
    };
    for (const char* json : jsons) {
        const std::vector<uint8_t> bytes = l01ntest::L01nFile(json);
        if (!bytes.empty()) add(bytes.data(), bytes.size());
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    char pattern[] = "/tmp/string_table_fuzz_XXXXXX";
    gFolder = mkdtemp(pattern);
    gFileSystem.MountDirectory("Common", gFolder.c_str());
    std::atexit([] { std::filesystem::remove_all(gFolder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(gFolder + "/L01n.bin", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    StringManager manager;
    const bool loaded = manager.LoadCompiledStrings();
    const CompiledGameStringCollection* c = manager.GetCompiledCollection();
    if (loaded != (c != nullptr)) __builtin_trap();  // a refused file leaves no collection
    for (uint32_t i = 0; c && i < c->GetEntryCount(); ++i) {
        const char* path = c->GetEntryPath(i);
        if (!manager.FindGameString(path)) __builtin_trap();  // every listed path is found
        for (uint32_t language = 0; language <= kCurrentTextLanguage; ++language)
            manager.GetString(path, language, nullptr, true, false);
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t probed = 0;
    for (size_t at = 0; at < text.size() && probed < kMaxProbedIds; ++probed) {
        const size_t end = text.find('\0', at);
        const std::string id = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const char* speaker = nullptr;
        manager.GetString(id.c_str(), kCurrentTextLanguage, &speaker, true, false);
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return 0;
}
