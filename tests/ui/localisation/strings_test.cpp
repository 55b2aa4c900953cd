// The localised strings: lookups in a compiled "L01n.bin" written by l01n.py through the
// engine's entries, the language choice, damaged files and the group tree.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "CaptureLogSink.h"
#include "L01nTestSupport.h"
#include "core/config/ConfigEnums.h"
#include "core/config/GameConfig.h"
#include "core/config/ProjectConfig.h"
#include "engine/services/UIServices.h"
#include "platform/online/Online.h"
#include "tests/core/config/ConfigFolder.h"
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
  {"path": "Menu/None", "situation": "s", "actors": "a", "notes": "n"}]})";

TEST(StringsTest, CompiledLookupsThroughTheEngineEntries) {
    ConfigFolder common("Common");
    common.Write("L01n.bin", L01nFile(kStrings));
    LanguageSettings keep;
    gGameConfig->textLanguage = kLanguageDefault;
    GetUIServices().CreateStringManager();
    ASSERT_TRUE(GetUIServices().LoadCompiledStrings("L01n.bin"));
    StringManager& m = *gStringManager;
    struct Case {
        const char* id;
        uint32_t language;
        bool fallback;
        const char *text, *speaker;  // "-": no speaker
    } cases[] = {
        {"Menu/Title", 1, true, "Sample", "Speaker03"}, {"Menu/Title", 2, false, "Beispiel", "Speaker03"},
        {"Menu/Fallback", 2, true, "english", "none"},  // empty German: English, then Polish
        {"Menu/PolishOnly", 2, true, "tylko", "none"},  {"Menu/Fallback", 2, false, "<null>", "none"},
        {"Menu/None", 2, true, "<null>", "none"},       {"menu/title", 1, true, "lower", "none"},
        {"MENU/TITLE", 1, true, "<null>", "-"},         {"Menu/Title/", 1, true, "<null>", "-"},
        {"Menu", 1, true, "<null>", "-"},               {"Menu/Sub", 1, true, "<null>", "-"},
        {"Menu/Sub/Deep", 1, true, "deep", "none"},     {"Menu/Titl", 1, true, "<null>", "-"},
        {"\xC3\xA9t\xC3\xA9/High", 1, true, "high", "none"},  // unsigned byte order
        {"Menu/Title", kCurrentTextLanguage, true, "Sample", "Speaker03"},
    };
    for (const Case& c : cases) {
        const char* speaker = "untouched";
        EXPECT_EQ(Narrow(m.GetString(c.id, c.language, &speaker, c.fallback, false)), c.text) << c.id;
        EXPECT_STREQ(speaker ? speaker : "-", c.speaker) << c.id;
    }
    const GameString* notes = m.FindGameString("Menu/None");  // the notes' order is the file's
    ASSERT_NE(notes, nullptr);
    EXPECT_EQ(std::string(notes->GetSituationDescription()) + notes->GetNotesForActors() + notes->GetNotes(), "san");
    // Refused languages and ids leave the speaker untouched.
    const char* speaker = "untouched";
    EXPECT_EQ(m.GetString("Menu/Title", 12, &speaker, true, true), nullptr);
    EXPECT_EQ(m.GetString(nullptr, 1, &speaker, true, true), nullptr);
    EXPECT_STREQ(speaker, "untouched");
    // "Text language" overrides lookups with the current language.
    gGameConfig->textLanguage = 2;
    EXPECT_EQ(Narrow(GetUIServices().LookupString("Menu/Title")), "Beispiel");

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
    GetUIServices().DeleteStringManager();
    EXPECT_EQ(GetUIServices().LookupString("Menu/Title"), nullptr);
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
        {5, 0xFFFFFFFF, true, 5}, {0, 0x2, true, 0},  // a configured language wins
        {12, 0xFFFFFFFF, false, 1},                   // "Default": English,
        {12, 0x24, false, 2}, {12, 0, false, 1},      // else the lowest available, if any
        {12, 0xFFFFFFFF, true, 2}, {12, 0x2, true, 1},  // the platform's, any case, when available
        {0xFFFFFFFF, 0x24, false, 2},                 // unsigned: no language chosen
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
    GetUIServices().CreateStringManager();
    gProjectConfig->defaultLanguage = 4;
    gProjectConfig->OnPropertyChanged("Default language");
    EXPECT_EQ(gStringManager->GetChosenLanguage(), 4u);
    gGameConfig->textLanguage = kLanguageDefault;
    EXPECT_EQ(gStringManager->GetCurrentLanguage(), 4u);
    GetUIServices().DeleteStringManager();
    EXPECT_EQ(gStringManager, nullptr);
}

TEST(StringsTest, DamagedFilesAreRefused) {
    ConfigFolder common("Common");
    const std::string two = R"({"strings": [{"path": "A", "texts": {"English": "a"}}, {"path": "B"}])";
    const std::vector<uint8_t> good = L01nFile(two + "}");
    ASSERT_GT(good.size(), 36u);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (const char* raw : {
             R"("entries": [[0, 0], [2, 2]])",   // string index out of range
             R"("entries": [[-1, 0], [1, 2]])",  // negative string index
             R"("entries": [[0, -1], [1, 2]])",  // negative path offset
             R"("entries": [[0, 0], [1, 4]])",   // path offset at the end of Paths
             R"("entries": [[1, 2], [0, 0]])",   // entries out of order
             R"("paths": "A\u0000B")",          // the last path without its NUL
             R"("paths": "")",                   // empty Paths
         })
        files.emplace_back(raw, L01nFile(two + ", " + raw + "}"));
    for (size_t cut = 0; cut < good.size(); ++cut) {  // every cut, its size word made to fit
        if (cut == 4) continue;                        // (a size of 0 is an empty file)
        std::vector<uint8_t> b(good.begin(), good.begin() + static_cast<long>(cut));
        if (cut > 4) b[0] = static_cast<uint8_t>(cut - 4), b[1] = b[2] = b[3] = 0;
        files.emplace_back("cut at " + std::to_string(cut), b);
    }
    for (uint32_t at : {0u, 4u, 12u, 32u}) {  // the size word, the counts of Paths, Entries, Strings
        std::vector<uint8_t> b = good;
        b[at] = b[at + 1] = b[at + 2] = 0xFF, b[at + 3] = 0x0F;
        files.emplace_back("count at " + std::to_string(at), b);
    }
    CaptureLogSink sink;
    sink.Attach();
    for (const auto& [what, bytes] : files) {
        common.Write("L01n.bin", bytes);
        StringManager m;
        sink.Clear();
        EXPECT_FALSE(m.LoadCompiledStrings()) << what;
        EXPECT_EQ(m.GetString("A", 1, nullptr, true, false), nullptr) << what;
        EXPECT_EQ(ErrorLines(sink), 1u) << what;
    }
    common.Write("L01n.bin", good);
    StringManager m;
    ASSERT_TRUE(m.LoadCompiledStrings());
    EXPECT_EQ(Narrow(m.GetString("A", 1, nullptr, true, false)), "a");
}

TEST(StringsTest, APathListedTwiceFindsItsFirstEntry) {
    // Both entries name "A": the lookup answers with the first (string "a"), wherever a
    // search happens to probe first.
    ConfigFolder common("Common");
    common.Write("L01n.bin", L01nFile(R"({"strings": [{"path": "A", "texts": {"English": "a"}}, {"path": "B"}], )"
                                      R"("entries": [[0, 0], [1, 0]]})"));
    StringManager m;
    ASSERT_TRUE(m.LoadCompiledStrings());
    EXPECT_EQ(Narrow(m.GetString("A", 1, nullptr, true, false)), "a");
    EXPECT_EQ(m.FindGameString("B"), nullptr);
}

GameStringGroup* Group(const char* id, std::initializer_list<GameStringGroup*> groups,
                       std::initializer_list<std::pair<const char*, const char16_t*>> strings) {
    auto* g = new GameStringGroup();
    g->SetId(id);
    for (GameStringGroup* sub : groups) g->AddGroup(sub);
    for (const auto& [name, german] : strings) {
        auto* s = new GameString();
        s->SetId(name);
        s->SetText(2, german);
        s->SetText(1, u"\u20ac");  // another language's characters are not collected
        g->AddString(s);
    }
    return g;
}

TEST(StringsTest, GroupTreeAndUsedCharacters) {
    StringManager m;
    GameStringGroup& root = m.GetRootGroup();
    root.AddGroup(Group("B", {Group("C", {}, {{"y", u"\u00fc\u00df"}})}, {{"x", u"ab"}}));
    root.AddGroup(Group("A", {}, {{"x", u"\uffff"}}));  // inserted after "B", sorts before it
    auto* top = new GameString();
    top->SetId("top");
    root.AddString(top);
    m.BumpTreeGeneration();
    struct Case {
        const char* id;
        bool found;
    } cases[] = {{"A/x", true}, {"B/x", true}, {"B/C/y", true}, {"top", true}, {"B/C/", false},
                 {"B/C", false}, {"B", false},  {"b/x", false},  {"/x", false}, {"B//x", false}};
    for (const Case& k : cases) EXPECT_EQ(m.FindGameString(k.id) != nullptr, k.found) << k.id;

    std::vector<uint32_t> bits(65536 / 32, 0), want(65536 / 32, 0);
    m.CollectUsedCharacters(2, bits.data());
    for (char16_t ch : std::u16string(u"\u00fc\u00dfab\uffff")) want[ch >> 5] |= 1u << (ch & 31);
    EXPECT_EQ(bits, want);
    EXPECT_FALSE(m.LoadStringsXML());  // empties the store
    EXPECT_EQ(m.FindGameString("A/x"), nullptr);
}

}  // namespace
