// UTF-8 <-> UTF-16 conversion, upper-casing by table, tag replacement.
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdio>
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
    EXPECT_EQ(Upper(u"abc 123 \u00df \u00ff", false), u"ABC 123 \u00df \u0178");
    EXPECT_EQ(Upper(u"\u10d0\u1f80\u0258\u0450", false), u"\u10a0\u1f88\u018e\u0450");
    EXPECT_EQ(Upper(u"ab|cd|ef", true), u"AB|cd|EF");
    EXPECT_EQ(Upper(u"ab|cd|ef|gh", true), u"AB|cd|EF|gh");
    EXPECT_EQ(Upper(u"ab|cd|ef", false), u"AB|CD|EF");
    ToUpperUTF16(nullptr, true);

    uint32_t n = 0;
    const UTF16CasePair* table = GetUTF16CaseTable(&n);
    ASSERT_EQ(n, 666u);
    for (uint32_t i = 1; i < n; ++i) EXPECT_LT(table[i - 1].lower, table[i].lower);
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
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(table[i].lower, generated[i].lower) << i;
        EXPECT_EQ(table[i].upper, generated[i].upper) << i;
    }
}

TEST(TextTest, ConversionsBetweenUTF8AndUTF16) {
    char16_t w[16];
    // Empty or null input: empty terminated output and true.
    w[0] = u'x';
    EXPECT_TRUE(MultiByteToWide(w, 16, nullptr, -1, kCodePageANSI));
    EXPECT_EQ(w[0], 0);
    w[0] = u'x';
    EXPECT_TRUE(MultiByteToWide(w, 16, "abc", 0, kCodePageANSI));
    EXPECT_EQ(w[0], 0);

    // Multi-byte and supplementary characters; -1 includes the terminator.
    ASSERT_TRUE(MultiByteToWide(w, 16, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", -1, kCodePageUTF8));
    EXPECT_EQ(std::u16string(w), u"a\u00e9\u20ac\U0001F600");
    char s[32];
    ASSERT_TRUE(WideToMultiByte(s, sizeof(s), w, -1, kCodePageANSI));
    EXPECT_STREQ(s, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

    // Invalid input: bytes never sign-extend; each bad sequence becomes U+FFFD.
    ASSERT_TRUE(MultiByteToWide(w, 16, "\xFF" "a\xC3" "b\xED\xA0\x80", -1, kCodePageANSI));
    EXPECT_EQ(std::u16string(w), u"\ufffda\ufffdb\ufffd\ufffd\ufffd");
    ASSERT_TRUE(MultiByteToWide(w, 16, "\xE2\x82", 2, kCodePageANSI));
    EXPECT_EQ(w[0], 0xFFFD);
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};
    ASSERT_TRUE(WideToMultiByte(s, sizeof(s), lone, -1, kCodePageANSI));
    EXPECT_STREQ(s, "a\xEF\xBF\xBD" "b");

    // A too-small buffer gives false.
    EXPECT_FALSE(MultiByteToWide(w, 2, "abc", 3, kCodePageANSI));
    EXPECT_FALSE(WideToMultiByte(s, 2, u"\u20ac", 1, kCodePageANSI));
    // MultiByteToWideZ leaves the output unterminated.
    w[3] = u'#';
    ASSERT_TRUE(MultiByteToWideZ(w, 16, "xyz", kCodePageANSI));
    EXPECT_EQ(std::u16string(w, 4), u"xyz#");
    EXPECT_EQ(UTF16Length(u"hello"), 5u);
    EXPECT_EQ(UTF16Length(nullptr), 0u);

    char path[] = "a\\b\\c";
    ReplaceChar(path, '\\', '/');
    EXPECT_STREQ(path, "a/b/c");
    ReplaceChar(nullptr, 'a', 'b');
}

struct Container : StringReplacementContainer {
    std::vector<StringReplacementEntry> entries;
    uint32_t GetEntryCount() const override { return static_cast<uint32_t>(entries.size()); }
    const StringReplacementEntry* GetEntry(uint32_t i) const override { return &entries[i]; }
};

std::u16string Expand(const char16_t* text, const Container& c) {
    Dynarray<char16_t> out;
    AppendString(out, ">");
    AppendWithTagReplacement(out, text, c);
    return std::u16string(out.data, out.Count());
}

TEST(TextTest, TagReplacement) {
    Container c;
    StringReplacementEntry name;
    name.tag = "name";
    name.text = "J\xF6rg";  // an 8-bit byte above 0x7F widens unsigned
    StringReplacementEntry wide;
    wide.tag = "w";
    wide.isWide = true;
    wide.wideText = u"\u20ac5";
    StringReplacementEntry empty;
    empty.tag = "e";
    empty.isWide = true;
    c.entries = {name, wide, empty};

    EXPECT_EQ(Expand(u"Hi ^name^!", c), u">Hi J\u00f6rg!");
    EXPECT_EQ(Expand(u"^w^^w^", c), u">\u20ac5\u20ac5");
    EXPECT_EQ(Expand(u"a^^b", c), u">ab");
    EXPECT_EQ(Expand(u"a^unknown^b", c), u">ab");
    EXPECT_EQ(Expand(u"a^e^b", c), u">ab");
    EXPECT_EQ(Expand(u"a^name", c), u">a");
    const std::u16string longTag = u"x^" + std::u16string(64, u'n') + u"^y";
    EXPECT_EQ(Expand(longTag.c_str(), c), u">xy");

    Dynarray<char> narrow;
    EXPECT_TRUE(AppendString(narrow, "ab"));
    EXPECT_TRUE(AppendString(narrow, nullptr));
    EXPECT_TRUE(AppendString(narrow, "c"));
    EXPECT_EQ(std::string(narrow.data, narrow.Count()), "abc");
}

}  // namespace
