// The localised strings: lookups in a compiled "L01n.bin" written by l01n.py, the
// language choice, damaged files, the group tree, and the engine's string entries.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "L01nTestSupport.h"
#include "core/config/ConfigEnums.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "engine/services/EngineServices.h"
#include "platform/online/Online.h"
#include "tests/core/config/ConfigFolder.h"
#include "ui/localisation/CompiledGameStringCollection.h"
#include "ui/localisation/StringManager.h"

namespace {

using l01ntest::L01nFile;

std::string Narrow(const char16_t* text) {
    std::string s;
    for (const char16_t* p = text; p && *p; ++p) s += *p < 0x80 ? static_cast<char>(*p) : '?';
    return text ? s : "<null>";
}

size_t ErrorLines(CaptureLogSink& sink) {
    size_t n = 0;
    for (const auto& m : sink.Messages()) n += m.severity == static_cast<uint8_t>(LogSeverity::Error);
    return n;
}

// The project's language settings, restored afterwards.
struct LanguageSettings {
    uint32_t mask = gProjectConfig->languageMask, preferred = gProjectConfig->defaultLanguage;
    uint32_t text = gGameConfig->textLanguage;
    ~LanguageSettings() {
        gProjectConfig->languageMask = mask, gProjectConfig->defaultLanguage = preferred;
        gGameConfig->textLanguage = text;
    }
};

// Paths in unsorted order, one above 0x7F (sorted by unsigned bytes it comes last), the
// strings stored in reverse so the entries' StringIndex matters.
const char* kStrings = R"({"strings_order": "reverse", "strings": [
  {"path": "Menu/Title", "speaker": 3, "texts": {"English": "Sample", "German": "Beispiel"}},
  {"path": "\u00e9t\u00e9/High", "texts": {"English": "high"}},
  {"path": "Menu/Fallback", "texts": {"English": "english", "Polish": "polski"}},
  {"path": "Menu/PolishOnly", "texts": {"Polish": "tylko"}},
  {"path": "menu/title", "texts": {"English": "lower"}},
  {"path": "Menu/Sub/Deep", "texts": {"English": "deep"}},
  {"path": "Menu/None"}]})";

TEST(StringsTest, CompiledLookups) {
    ConfigFolder common("Common");
    common.Write("L01n.bin", L01nFile(kStrings));
    LanguageSettings keep;
    gGameConfig->textLanguage = kLanguageDefault;
    StringManager m;
    ASSERT_TRUE(m.LoadCompiledStrings());
    struct Case {
        const char* id;
        uint32_t language;
        bool fallback;
        const char* text;
        const char* speaker;
    } cases[] = {
        {"Menu/Title", 1, true, "Sample", "Speaker03"},
        {"Menu/Title", 2, false, "Beispiel", "Speaker03"},
        {"Menu/Fallback", 2, true, "english", "none"},  // empty German: English
        {"Menu/PolishOnly", 2, true, "tylko", "none"},  // then Polish
        {"Menu/Fallback", 2, false, "<null>", "none"},
        {"Menu/None", 2, true, "<null>", "none"},
        {"menu/title", 1, true, "lower", "none"},  // case-sensitive, full path
        {"MENU/TITLE", 1, true, "<null>", nullptr},
        {"Menu/Title/", 1, true, "<null>", nullptr},
        {"Menu", 1, true, "<null>", nullptr},
        {"Menu/Sub", 1, true, "<null>", nullptr},
        {"Menu/Sub/Deep", 1, true, "deep", "none"},
        {"Menu/Titl", 1, true, "<null>", nullptr},
        {"\xC3\xA9t\xC3\xA9/High", 1, true, "high", "none"},  // unsigned byte order
        {"Menu/Title", kCurrentTextLanguage, true, "Sample", "Speaker03"},
    };
    for (const Case& c : cases) {
        const char* speaker = "untouched";
        EXPECT_EQ(Narrow(m.GetString(c.id, c.language, &speaker, c.fallback, false)), c.text) << c.id;
        if (c.speaker) {
            EXPECT_STREQ(speaker, c.speaker) << c.id;
        } else {
            EXPECT_EQ(speaker, nullptr) << c.id;
        }
    }
    // Refused languages and ids leave the speaker untouched.
    const char* speaker = "untouched";
    EXPECT_EQ(m.GetString("Menu/Title", 12, &speaker, true, true), nullptr);
    EXPECT_EQ(m.GetString(nullptr, 1, &speaker, true, true), nullptr);
    EXPECT_STREQ(speaker, "untouched");

    // "Text language" overrides lookups with the current language.
    gGameConfig->textLanguage = 2;
    EXPECT_EQ(Narrow(m.GetString("Menu/Title", kCurrentTextLanguage, nullptr, true, true)), "Beispiel");

    CaptureLogSink sink;
    sink.Attach();
    EXPECT_EQ(m.GetString("Menu/Missing", 1, nullptr, true, true), nullptr);
    EXPECT_EQ(m.GetString("Menu/Quiet", 1, nullptr, true, false), nullptr);
    EXPECT_TRUE(sink.Contains("Unable to find string: Menu/Missing"));
    EXPECT_FALSE(sink.Contains("Menu/Quiet"));

    // A missing file changes nothing.
    std::filesystem::remove(common.File("L01n.bin"));
    EXPECT_FALSE(m.LoadCompiledStrings());
    EXPECT_NE(m.GetString("Menu/Title", 1, nullptr, true, false), nullptr);
}

TEST(StringsTest, LanguageChoice) {
    LanguageSettings keep;
    online::ClientConfig config;
    config.offline = true;
    config.language = "GERMAN";
    struct Case {
        uint32_t preferred, mask;
        bool platform;
        uint32_t chosen;
    } cases[] = {
        {5, 0xFFFFFFFF, true, 5},            // a configured language wins
        {0, 0x2, true, 0},
        {12, 0xFFFFFFFF, false, 1},          // "Default": English
        {12, 0x24, false, 2},                // English not available: the lowest
        {12, 0, false, 1},                   // nothing available stays English
        {12, 0xFFFFFFFF, true, 2},           // the platform's language, any case
        {12, 0x2, true, 1},                  // ... only when available
        {0xFFFFFFFF, 0x24, false, 2},        // unsigned: no language chosen
    };
    for (const Case& c : cases) {
        if (c.platform) {
            ASSERT_TRUE(SteamAPI_InitWithConfig(config));
        }
        gProjectConfig->defaultLanguage = c.preferred, gProjectConfig->languageMask = c.mask;
        StringManager m;
        EXPECT_EQ(m.GetChosenLanguage(), c.chosen) << c.preferred << " " << c.mask << " " << c.platform;
        SteamAPI_Shutdown();
    }
    // The configuration asks for a new choice when "Default language" changes, which
    // the engine entry's manager follows.
    gProjectConfig->defaultLanguage = 12, gProjectConfig->languageMask = 0xFFFFFFFF;
    gEngineServices.stringManagerCreate();
    gProjectConfig->defaultLanguage = 4;
    gProjectConfig->OnPropertyChanged("Default language");
    EXPECT_EQ(gStringManager->GetChosenLanguage(), 4u);
    gGameConfig->textLanguage = kLanguageDefault;
    EXPECT_EQ(gEngineServices.stringManagerCurrentLanguage(), 4u);
    gEngineServices.stringManagerDelete();
    EXPECT_EQ(gStringManager, nullptr);
}

TEST(StringsTest, DamagedFilesAreRefused) {
    ConfigFolder common("Common");
    const std::string two = R"("strings": [{"path": "A", "texts": {"English": "a"}}, {"path": "B"}])";
    struct Case {
        const char* what;
        std::string json;
    } cases[] = {
        {"string index out of range", "{" + two + R"(, "entries": [[0, 0], [2, 2]]})"},
        {"negative string index", "{" + two + R"(, "entries": [[-1, 0], [1, 2]]})"},
        {"negative path offset", "{" + two + R"(, "entries": [[0, -1], [1, 2]]})"},
        {"path offset at the end", "{" + two + R"(, "entries": [[0, 0], [1, 4]]})"},
        {"path without its NUL", "{" + two + R"(, "paths": "A\u0000B"})"},
        {"entries out of order", "{" + two + R"(, "entries": [[1, 2], [0, 0]]})"},
        {"empty paths", "{" + two + R"(, "paths": ""})"},
    };
    CaptureLogSink sink;
    sink.Attach();
    for (const Case& c : cases) {
        common.Write("L01n.bin", L01nFile(c.json));
        StringManager m;
        sink.Clear();
        EXPECT_FALSE(m.LoadCompiledStrings()) << c.what;
        EXPECT_EQ(m.GetCompiledCollection(), nullptr) << c.what;
        EXPECT_EQ(m.GetString("A", 1, nullptr, true, false), nullptr) << c.what;
        EXPECT_EQ(ErrorLines(sink), 1u) << c.what;
    }
    // Every cut of a good file, and counts larger than the file, fail cleanly.
    std::vector<uint8_t> good = L01nFile("{" + two + "}");
    ASSERT_GT(good.size(), 20u);
    for (size_t cut = 0; cut < good.size(); ++cut) {
        std::vector<uint8_t> bytes(good.begin(), good.begin() + static_cast<long>(cut));
        if (cut >= 4) bytes[0] = static_cast<uint8_t>(cut - 4), bytes[1] = bytes[2] = bytes[3] = 0;  // size word fits
        common.Write("L01n.bin", bytes);
        StringManager m;
        sink.Clear();
        EXPECT_FALSE(m.LoadCompiledStrings() && cut > 4) << cut;
        EXPECT_EQ(m.GetString("A", 1, nullptr, true, false), nullptr) << cut;
        EXPECT_EQ(ErrorLines(sink), cut == 4 ? 0u : 1u) << cut;  // a size of 0 is an empty file
    }
    // The size word, then the counts of Paths, Entries (after "A\0B\0") and Strings.
    for (uint32_t at : {0u, 4u, 12u, 32u}) {
        std::vector<uint8_t> bytes = good;
        bytes[at] = bytes[at + 1] = bytes[at + 2] = 0xFF, bytes[at + 3] = 0x0F;
        common.Write("L01n.bin", bytes);
        StringManager m;
        EXPECT_FALSE(m.LoadCompiledStrings()) << at;
        EXPECT_EQ(m.GetCompiledCollection(), nullptr) << at;
    }
    common.Write("L01n.bin", good);
    StringManager m;
    ASSERT_TRUE(m.LoadCompiledStrings());
    EXPECT_EQ(Narrow(m.GetString("A", 1, nullptr, true, false)), "a");
}

GameString* MakeString(const char* id, const char16_t* german) {
    auto* s = new GameString();
    s->SetId(id);
    s->SetText(2, german);
    s->SetText(1, u"\u20ac");  // another language's characters are not collected
    return s;
}

TEST(StringsTest, GroupTreeAndUsedCharacters) {
    StringManager m;
    GameStringGroup& root = m.GetRootGroup();
    auto* b = new GameStringGroup();
    b->SetId("B");
    auto* c = new GameStringGroup();
    c->SetId("C");
    c->AddString(MakeString("y", u"\u00fc\u00df"));
    b->AddGroup(c);
    b->AddString(MakeString("x", u"ab"));
    auto* a = new GameStringGroup();  // inserted after "B", sorts before it
    a->SetId("A");
    a->AddString(MakeString("x", u"\uffff"));
    root.AddGroup(b);
    root.AddGroup(a);
    root.AddString(MakeString("top", nullptr));
    m.BumpTreeGeneration();
    struct Case {
        const char* id;
        bool found;
    } cases[] = {{"A/x", true}, {"B/x", true}, {"B/C/y", true}, {"top", true}, {"B/C/", false},
                 {"B/C", false}, {"B", false},  {"b/x", false},  {"/x", false}, {"B//x", false}};
    for (const Case& k : cases) EXPECT_EQ(m.FindGameString(k.id) != nullptr, k.found) << k.id;
    EXPECT_EQ(m.FindGameString("B/C/y")->GetText(2)[0], u'\u00fc');

    std::vector<uint32_t> bits(65536 / 32, 0);
    m.CollectUsedCharacters(2, bits.data());
    std::vector<uint32_t> want(65536 / 32, 0);
    for (char16_t ch : std::u16string(u"\u00fc\u00dfab\uffff")) want[ch >> 5] |= 1u << (ch & 31);
    EXPECT_EQ(bits, want);

    EXPECT_FALSE(m.LoadStringsXML());  // empties the store
    EXPECT_EQ(m.FindGameString("A/x"), nullptr);
}

TEST(StringsTest, EngineEntriesLoadAndLook) {
    ConfigFolder common("Common");
    common.Write("L01n.bin", L01nFile(kStrings));
    LanguageSettings keep;
    gGameConfig->textLanguage = 2;
    EngineServices& e = gEngineServices;
    EXPECT_EQ(e.stringManagerLookup("Menu/Title"), nullptr);  // no manager yet
    e.stringManagerCreate();
    EXPECT_TRUE(e.stringManagerLoadCompiledStrings("L01n.bin"));
    EXPECT_EQ(Narrow(e.stringManagerLookup("Menu/Title")), "Beispiel");
    EXPECT_EQ(Narrow(e.stringManagerLookup("Menu/Fallback")), "english");
    e.stringManagerDelete();
    EXPECT_EQ(e.stringManagerLookup("Menu/Title"), nullptr);
}

}  // namespace
