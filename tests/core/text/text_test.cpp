// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/text/TagReplacement.h"
#include "core/text/TextConversion.h"

namespace {

std::u16string Upper(std::u16string s, bool skipTags) {
    ToUpperUTF16(s.data(), skipTags);
    return s;
}

TEST(TextTest, ToUpperUTF16) {
    struct Case {
        const char16_t* in;
        bool skipTags;
        const char16_t* out;
    } cases[] = {
        {u"abc 123 \u00df \u00ff", false, u"ABC 123 \u00df \u0178"},
        {u"\u10d0\u1f80\u0258\u0450", false, u"\u10a0\u1f88\u018e\u0450"},
        {u"`az{\uff41\uff5a\uff5b", false, u"`AZ{\uff21\uff3a\uff5b"},  // the table's first and last pairs
        {u"ab|cd|ef", true, u"AB|cd|EF"},
        {u"ab|cd|ef|gh", true, u"AB|cd|EF|gh"},
        {u"a||b|", true, u"A||B|"},
        {u"ab|cd|ef", false, u"AB|CD|EF"},
    };
    for (const Case& c : cases) EXPECT_EQ(Upper(c.in, c.skipTags), c.out);
    ToUpperUTF16(nullptr, true);
}

// The compiled table equals the generator's output from Python's Unicode data.
TEST(TextTest, CaseTableMatchesUnicodeData) {
    const std::string cmd = "python3 " PROJECT_SOURCE_ROOT "/tests/core/text/case_table.py 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::vector<UTF16CasePair> generated;
    unsigned lo, up;
    while (std::fscanf(p, "%x %x", &lo, &up) == 2)
        generated.push_back({static_cast<char16_t>(lo), static_cast<char16_t>(up)});
    const int status = pclose(p);
    if (generated.empty() && status != 0) GTEST_SKIP() << "python3 not available";
    uint32_t n = 0;
    const UTF16CasePair* table = GetUTF16CaseTable(&n);
    ASSERT_EQ(generated.size(), n);
    for (uint32_t i = 0; i < n; ++i)
        EXPECT_TRUE(table[i].lower == generated[i].lower && table[i].upper == generated[i].upper) << i;
}

std::vector<uint8_t> Hex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Seeded random inputs around every boundary of both encodings, converted by Python.
TEST(TextTest, ConversionsAgreeWithPython) {
    const std::string cmd = "python3 " PROJECT_SOURCE_ROOT "/tests/core/text/utf_reference.py 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char kind[2], in[64], out[128];
    int cases = 0;
    while (std::fscanf(p, "%1s %63s %127s", kind, in, out) == 3) {
        ++cases;
        const std::vector<uint8_t> input = Hex(in), expected = Hex(out[0] == '-' ? "" : out);
        std::vector<uint8_t> got(128);
        if (kind[0] == 'D') {
            ASSERT_TRUE(MultiByteToWide(reinterpret_cast<char16_t*>(got.data()), 64, reinterpret_cast<const char*>(input.data()),
                                        static_cast<int32_t>(input.size()), kCodePageUTF8));
        } else {
            ASSERT_TRUE(WideToMultiByte(reinterpret_cast<char*>(got.data()), 128, reinterpret_cast<const char16_t*>(input.data()),
                                        static_cast<int32_t>(input.size() / 2), kCodePageUTF8));
        }
        got.resize(expected.size());
        EXPECT_EQ(got, expected) << kind << " " << in;
    }
    const int status = pclose(p);
    if (cases == 0 && status != 0) GTEST_SKIP() << "python3 not available";
    EXPECT_EQ(cases, 6000);
}

TEST(TextTest, ConversionLengthsAndBuffers) {
    // Empty, null or zero-length input: an empty terminated output and true; a
    // zero-sized output is not written at all.
    struct Empty {
        const char* text;
        int32_t length;
        uint32_t outSize;
        bool written;
    } empties[] = {{nullptr, -1, 16, true}, {"", -1, 16, true}, {"abc", 0, 16, true}, {"", -1, 0, false}};
    for (const Empty& e : empties) {
        char16_t w[2] = {u'x'};
        char s[2] = {'x'};
        EXPECT_TRUE(MultiByteToWide(w, e.outSize, e.text, e.length, kCodePageANSI));
        EXPECT_EQ(w[0], e.written ? 0 : u'x');
        const char16_t* wide = e.text ? (e.length ? u"" : u"abc") : nullptr;
        EXPECT_TRUE(WideToMultiByte(s, e.outSize, wide, e.length, kCodePageANSI));
        EXPECT_EQ(s[0], e.written ? 0 : 'x');
    }
    EXPECT_TRUE(MultiByteToWide(nullptr, 0, "", -1, kCodePageANSI));

    // -1 converts the terminator too; an explicit length does not add one.
    char16_t w[16];
    char s[32];
    ASSERT_TRUE(MultiByteToWide(w, 16, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", -1, kCodePageUTF8));
    EXPECT_EQ(std::u16string(w), u"a\u00e9\u20ac\U0001F600");
    ASSERT_TRUE(WideToMultiByte(s, sizeof s, w, -1, kCodePageANSI));
    EXPECT_STREQ(s, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    w[2] = u'#';
    ASSERT_TRUE(MultiByteToWide(w, 16, "xy", 2, kCodePageANSI));
    EXPECT_EQ(w[2], u'#');
    // A length ends the input even inside a surrogate pair.
    const char16_t pair[] = {0xD800, 0xDC00, 0};
    ASSERT_TRUE(WideToMultiByte(s, sizeof s, pair, 1, kCodePageANSI));
    EXPECT_EQ(std::string(s, 3), "\xEF\xBF\xBD");

    // The output must hold every unit (or byte): exactly enough passes, one less fails.
    struct Fit {
        const char* utf8;
        int32_t length;
        uint32_t units;  // UTF-16 units needed
    } fits[] = {{"abc", 3, 3}, {"abc", -1, 4}, {"\xF0\x9F\x98\x80", 4, 2}, {"\xE2\x82\xAC", 3, 1}};
    for (const Fit& f : fits) {
        EXPECT_TRUE(MultiByteToWide(w, f.units, f.utf8, f.length, kCodePageANSI)) << f.utf8;
        EXPECT_FALSE(MultiByteToWide(w, f.units - 1, f.utf8, f.length, kCodePageANSI)) << f.utf8;
        ASSERT_TRUE(MultiByteToWide(w, 16, f.utf8, f.length, kCodePageANSI));
        const uint32_t bytes = static_cast<uint32_t>(f.length < 0 ? std::strlen(f.utf8) + 1 : f.length);
        EXPECT_TRUE(WideToMultiByte(s, bytes, w, static_cast<int32_t>(f.units), kCodePageANSI)) << f.utf8;
        EXPECT_FALSE(WideToMultiByte(s, bytes - 1, w, static_cast<int32_t>(f.units), kCodePageANSI)) << f.utf8;
    }
    EXPECT_FALSE(MultiByteToWide(nullptr, 16, "a", 1, kCodePageANSI) || WideToMultiByte(nullptr, 16, u"a", 1, kCodePageANSI));

    // MultiByteToWideZ leaves the output unterminated.
    w[3] = u'#';
    ASSERT_TRUE(MultiByteToWideZ(w, 16, "xyz", kCodePageANSI));
    EXPECT_EQ(std::u16string(w, 4), u"xyz#");
    w[0] = u'x';
    EXPECT_TRUE(MultiByteToWideZ(w, 16, nullptr, kCodePageANSI));
    EXPECT_EQ(w[0], 0);
    EXPECT_EQ(UTF16Length(u"hello") + UTF16Length(nullptr), 5u);

    char path[] = "a\\b\\c";
    ReplaceChar(path, '\\', '/');
    EXPECT_STREQ(path, "a/b/c");
    ReplaceChar(nullptr, 'a', 'b');
}

struct Container : TagReplacementSource {
    std::vector<StringReplacementEntry> entries;
    std::vector<bool> missing;  // entries the container cannot hand out
    uint32_t GetEntryCount() const override { return static_cast<uint32_t>(entries.size()); }
    const StringReplacementEntry* GetEntry(uint32_t i) const override {
        return i < missing.size() && missing[i] ? nullptr : &entries[i];
    }
};

std::u16string Expand(const char16_t* text, const Container& c) {
    Dynarray<char16_t> out;
    AppendString(out, ">");
    AppendWithTagReplacement(out, text, c);
    return std::u16string(out.data, out.Count());
}

StringReplacementEntry Entry(const char* tag, const char* text, const char16_t* wide = nullptr) {
    StringReplacementEntry e;
    e.tag = tag, e.text = text, e.isWide = !text;
    for (const char16_t* w = wide; w && *w; ++w) e.wideText.Add(*w);
    if (e.isWide) e.wideText.Add(0);
    return e;
}

TEST(TextTest, TagReplacement) {
    const std::string tag63(63, 'n');
    Container c;
    c.entries = {Entry("skipped", "never"),         Entry("name", "J\xC3\xB6rg"),  // 8-bit texts are UTF-8
                 Entry("w", nullptr, u"\u20ac5"),    Entry("e", nullptr, u""), Entry("nullwide", nullptr),
                 Entry("a", "low byte"),              Entry("\xE9", "e-acute"), Entry("bad", "\xF6!"), Entry(tag63.c_str(), "63"),
                 Entry("name", "second"), Entry("", "empty tag")};
    c.missing = {true};
    const std::u16string text63 = u"x^" + std::u16string(63, u'n') + u"^y";
    const std::u16string text64 = u"x^" + std::u16string(64, u'n') + u"^y";
    struct Case {
        std::u16string in, out;
    } cases[] = {
        {u"Hi ^name^!", u">Hi J\u00f6rg!"},  // the first entry of a tag wins
        {u"^w^^w^", u">\u20ac5\u20ac5"}, {u"a^^b", u">ab"}, {u"a^unknown^b", u">ab"}, {u"a^e^b^nullwide^c", u">abc"},
        {u"a^name", u">a"}, {u"a^skipped^b", u">ab"}, {u"", u">"}, {text63, u">x63y"}, {text64, u">xy"},
        {u"^\u0161^", u">low byte"}, {u"^\u00e9^", u">e-acute"},  // tags narrow to the low byte of each unit
        {u"^bad^", u">\ufffd!"},  // an invalid byte becomes U+FFFD, never a widened byte
        {u"x^\u0100^y", u">xy"}, {u"x^a\u4e00b^y", u">xy"},  // a unit narrowing to 0 matches no shorter tag
    };
    for (const Case& k : cases) EXPECT_EQ(Expand(k.in.c_str(), c), k.out);
    Dynarray<char16_t> none;
    AppendWithTagReplacement(none, nullptr, c);
    EXPECT_EQ(none.Count(), 0u);

    Dynarray<char> narrow;
    for (const char* t : {"ab", static_cast<const char*>(nullptr), "", "c"}) EXPECT_TRUE(AppendString(narrow, t));
    EXPECT_EQ(std::string(narrow.data, narrow.Count()), "abc");
    Dynarray<char16_t> wide;
    EXPECT_TRUE(AppendString(wide, "\xFF"));
    EXPECT_EQ(std::u16string(wide.data, wide.Count()), u"\u00ff");
}

}  // namespace
