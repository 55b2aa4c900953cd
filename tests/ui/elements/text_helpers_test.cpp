// test-link: game
// test-sources: ../../engine/NumpyReference.cpp
// test-depends: shader_data
// test-sanitize: thread
// The text helpers over localised strings (recording device, box fonts): localised texts
// with tags and their reapplication on a language change, the cross-fade, the
// line-by-line partitioner and the credits tokenizer.
#include "TextTestSupport.h"
#include "core/config/GameConfig.h"
#include "game/LUAConfigHelper.h"
#include "core/config/ConfigEnums.h"
#include "ui/elements/GameStringPartitioner.h"
#include "ui/localisation/StringManager.h"
#include "ui/localisation/StringReplacementContainer.h"
#include "ui/elements/UICreditsHelper.h"

using namespace texttest;

namespace {

constexpr uint32_t kGerman = 2;

std::string Narrow(const char16_t* text) {
    std::string out;
    for (; *text; ++text) out += char(*text);
    return out;
}

struct HelpersTest : TextFixtureOf<shadertest::ShaderFixture> {
    void SetUp() override {
        TextFixtureOf::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(gStringManager, nullptr);
        gStringManager = new StringManager();
        menu = new GameStringGroup;
        menu->SetId(NameString("Menu"));
        gStringManager->GetRootGroup().AddGroup(menu);
    }
    void TearDown() override {
        delete gStringManager;
        gStringManager = nullptr;
        if (gDefaultReplacementContainer) gDefaultReplacementContainer->Clear();
        TextFixtureOf::TearDown();
    }
    GameString* AddString(const char* id, const char16_t* english, const char16_t* german = nullptr,
                          uint32_t speaker = 0) {
        GameString* s = new GameString;
        s->SetId(NameString(id));
        s->SetText(kLanguageEnglish, english);
        if (german) s->SetText(kGerman, german);
        s->SetSpeaker(speaker);
        menu->AddString(s);
        gStringManager->BumpTreeGeneration();
        return s;
    }
    // Frames with both action clocks at the given seconds.
    void FramesAt(std::initializer_list<double> seconds) {
        for (double s : seconds) {
            const int64_t t = int64_t(s * 1e7);
            BeginFrame();
            screen->Render(uint32_t(clientWidth), uint32_t(clientHeight), t, t, Vector(0.5f, 0.5f, 0, 0));
            EndFrame();
        }
    }
    std::u16string Shown(UIText* t) {
        std::u16string out;
        OnRender([&] { out = t->Text() ? t->Text() : u""; });
        return out;
    }
    GameStringGroup* menu = nullptr;
};

TEST_F(HelpersTest, LocalisedTextsExpandTagsAndFollowTheLanguage) {
    AddString("Title", u"Hello ^name^!", u"Hallo ^name^!");
    gDefaultReplacementContainer->Add("name", "Zo\xC3\xAB");
    UIText* t = AddText(screen, 0, 0, nullptr);
    t->SetLocalizedText("Menu/Title");
    EXPECT_EQ(Shown(t), u"Hello Zo\u00EB!");
    EXPECT_STREQ(t->GetLocalizedTextId().CStr(), "Menu/Title");
    // Handed its own container again, the element keeps sharing it.
    t->SetReplacementContainer(t->GetReplacementContainer());
    gDefaultReplacementContainer->Clear();
    gDefaultReplacementContainer->Add("name", "Ann");
    t->SetLocalizedText("Menu/Title");
    EXPECT_EQ(Shown(t), u"Hello Ann!");
    gDefaultReplacementContainer->Clear();
    gDefaultReplacementContainer->Add("name", "Zo\xC3\xAB");
    // A direct text forgets the id; a language change sets localised texts again.
    UIText* direct = AddText(screen, 0, 0, nullptr);
    direct->SetLocalizedText("Menu/Title");
    direct->SetText("AB");
    LUAConfigHelper helper;
    helper.SetLanguage(kGerman);
    EXPECT_EQ(Shown(t), u"Hallo Zo\u00EB!");
    EXPECT_EQ(Shown(direct), u"AB");
    EXPECT_NE(t->GetFont(), nullptr);
    gGameConfig->textLanguage = kLanguageDefault;
}

TEST_F(HelpersTest, CrossFadeShowsTheNewTextAfterTheOldOneHasGone) {
    UIText* t = AddText(screen, 0, 0, "A");
    t->SetTextSmooth(1.0f, "B", 0, 0);
    FramesAt({0.0});
    EXPECT_EQ(Shown(t), u"A") << "fading out";
    FramesAt({1.0});
    EXPECT_EQ(Shown(t), u"B") << "the fade-in set its text";
    Vector colour;
    FramesAt({2.0});
    OnRender([&] { colour = t->Render().color; });
    EXPECT_FLOAT_EQ(colour.w, 1.0f);
    // From no text the fade-out ends at once.
    UIText* empty = AddText(screen, 0, 0, nullptr);
    empty->SetTextSmooth(1.0f, "AB", 0, 0);
    FramesAt({2.0});
    EXPECT_EQ(Shown(empty), u"AB");
}

TEST_F(HelpersTest, PartitionerShowsLineByLineAndSurvivesItsElement) {
    AddString("Talk", u"A\nB\nAB\n", nullptr, 3);
    UIText* t = AddText(screen, 0, 0, nullptr);
    GameStringPartitioner p;
    p.SetTextFadeTime(0.0f);
    EXPECT_FALSE(p.StartGameStringPartitioning(nullptr, t, 3.0f));
    ASSERT_TRUE(p.StartGameStringPartitioning("Menu/Talk", t, 3.0f));
    EXPECT_EQ(p.PartCount(), 3u) << "a final line feed starts no part";
    EXPECT_FLOAT_EQ(p.PartTime(), 1.0f);
    EXPECT_STREQ(p.GetSpeaker(), "Speaker03");
    struct Step {
        float t;
        uint32_t part;
        const char16_t* shown;
    } steps[] = {{0.5f, 0, u"A"}, {0.99f, 0, u"A"}, {1.0f, 1, u"B"}, {2.5f, 2, u"AB\n"},  // the last to the end
                 {3.0f, GameStringPartitioner::kFinished, u"AB\n"}};
    double clock = 0;
    for (const Step& s : steps) {
        p.Update(s.t);
        FramesAt({clock, clock + 1});
        clock += 2;
        SCOPED_TRACE(s.t);
        EXPECT_EQ(p.CurrentPart(), s.part);
        EXPECT_EQ(Shown(t), s.shown);
    }
    // A missing id logs its line and still reports both given.
    GameStringPartitioner missing;
    EXPECT_TRUE(missing.StartGameStringPartitioning("Menu/Nothing", t, 1.0f));
    EXPECT_TRUE(Logged("stringId Menu/Nothing is empty!"));
    // No time per part: the last part at once.
    GameStringPartitioner instant;
    instant.SetTextFadeTime(0.0f);
    ASSERT_TRUE(instant.StartGameStringPartitioning("Menu/Talk", t, 0.0f));
    FramesAt({clock, clock + 1});
    clock += 2;
    EXPECT_EQ(instant.CurrentPart(), GameStringPartitioner::kFinished);
    EXPECT_EQ(Shown(t), u"AB\n");
    // Started again with a shorter string: only its own parts, read from its own copy.
    AddString("Short", u"X\nY");
    ASSERT_TRUE(instant.StartGameStringPartitioning("Menu/Short", t, 2.0f));
    EXPECT_EQ(instant.PartCount(), 2u);
    instant.Update(1.5f);
    FramesAt({clock, clock + 1});
    clock += 2;
    EXPECT_EQ(instant.CurrentPart(), 1u);
    EXPECT_EQ(Shown(t), u"Y");
    // A part cut at 2047 characters keeps a surrogate pair on the cut whole or not at all.
    AddString("Long", (std::u16string(2046, u'B') + u"\U0001F600").c_str());
    ASSERT_TRUE(instant.StartGameStringPartitioning("Menu/Long", t, 0.0f));
    FramesAt({clock, clock + 1});
    clock += 2;
    EXPECT_EQ(Shown(t), std::u16string(2046, u'B'));
    // The element goes first: the partitioner lets go of it.
    GameStringPartitioner orphan;
    ASSERT_TRUE(orphan.StartGameStringPartitioning("Menu/Talk", t, 3.0f));
    t->Release();
    orphan.Update(1.5f);
    orphan.Clear();
    EXPECT_EQ(orphan.CurrentPart(), 0u);
}

TEST_F(HelpersTest, CreditsTokensAndSyntaxErrors) {
    AddString("Credits", u"<Title>\n  Made by  \n>");
    AddString("Unclosed", u"<Title\nText");
    AddString("Inline", u"<a>Text<b>\tMore");
    UICreditsHelper c;
    c.Open("Menu/Credits");
    ASSERT_TRUE(c.IsTag());
    EXPECT_STREQ(c.GetTag(), "Title");
    c.SkipToken();
    ASSERT_TRUE(c.IsString());
    EXPECT_EQ(std::u16string(c.GetString()), u"Made by  ") << "trailing spaces are part of it";
    c.SkipToken();
    EXPECT_TRUE(c.IsEof());
    EXPECT_TRUE(Logged("Credits syntax error. Line: 2"));

    c.Open("Menu/Unclosed");
    EXPECT_TRUE(c.IsEof());
    EXPECT_TRUE(Logged("Credits syntax error. Line: 0"));

    c.Open("Menu/Inline");
    std::vector<std::string> tokens;
    for (; !c.IsEof(); c.SkipToken()) {
        if (c.IsTag()) tokens.push_back("<" + std::string(c.GetTag()) + ">");
        else if (c.IsString()) tokens.push_back(Narrow(c.GetString()));
    }
    EXPECT_EQ(tokens, (std::vector<std::string>{"<a>", "Text", "<b>", "More"}));

    // A moved helper takes the stream over; the other is empty.
    c.Open("Menu/Credits");
    c.SkipToken();
    UICreditsHelper moved(std::move(c));
    EXPECT_TRUE(c.IsEof());
    ASSERT_TRUE(moved.IsString());
    // Transfer: the string as text, its measured size times the text scale (2).
    UIText* t = AddText(screen, 0, 0, nullptr, "scaled.ttf", 24);
    const Vector size = moved.TransferText(t);
    EXPECT_FLOAT_EQ(size.x, BoxWidth(u"Made by  ", false) * 2);
    EXPECT_FLOAT_EQ(size.y, kBoxLine * 2);
    EXPECT_EQ(Shown(t), u"Made by  ");
    moved.SkipToken();
    EXPECT_TRUE(uitest::SameVector(moved.TransferText(t), Vector()));
    EXPECT_EQ(Shown(t), u"");
}

}  // namespace
