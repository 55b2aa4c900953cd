// The shared tag -> text container and the tag replacement that text elements run.
// test-sanitize: address
#include <gtest/gtest.h>

#include <string>

#include "engine/services/UIServices.h"
#include "ui/localisation/StringReplacementContainer.h"

namespace {

std::u16string Expand(const char16_t* text, const StringReplacementContainer& c) {
    Dynarray<char16_t> out;
    AppendWithTagReplacement(out, text, c);
    return std::u16string(out.data, out.Count());
}

TEST(ReplacementTest, TagsAreReplaced) {
    StringReplacementContainer c;
    c.Add("name", "Zo\xC3\xAB");  // UTF-8
    c.Add("name", "second");      // the first entry of a tag wins
    c.Add("count", -42);
    c.AddLocalized("loc", "as given");
    c.Add("null", nullptr);  // nothing added
    const std::string tag64(64, 't');
    c.Add(tag64.c_str(), "long");
    EXPECT_EQ(c.GetEntryCount(), 5u);
    const std::u16string text64 = u"a^" + std::u16string(64, u't') + u"^b";
    struct Case {
        std::u16string in, out;
    } cases[] = {
        {u"Hi ^name^!", u"Hi Zo\u00eb!"}, {u"^count^/^loc^", u"-42/as given"}, {u"a^unknown^b", u"ab"},
        {u"a^^b", u"ab"},  {u"a^null^b", u"ab"}, {u"ab^name", u"ab"}, {text64, u"ab"},
    };
    for (const Case& k : cases) EXPECT_EQ(Expand(k.in.c_str(), c), k.out);
}

TEST(ReplacementTest, HandlesShareOneBody) {
    StringReplacementContainer a;
    StringReplacementContainer b(a);  // copied before the first entry: still one body
    auto* held = new StringReplacementContainer();
    *held = b;
    EXPECT_EQ(a.GetReferenceCount(), 3u);
    b.Add("tag", "text");
    EXPECT_EQ(Expand(u"^tag^", a), u"text");
    EXPECT_EQ(Expand(u"^tag^", *held), u"text");
    held->Clear();
    EXPECT_EQ(a.GetEntryCount(), 0u);
    delete held;
    EXPECT_EQ(a.GetReferenceCount(), 2u);
    a = StringReplacementContainer();  // a takes a body of its own
    a.Add("tag", "other");
    EXPECT_EQ(b.GetReferenceCount(), 1u);
    EXPECT_EQ(Expand(u"^tag^", b), u"");
    // The default container is emptied when the Game closes.
    ASSERT_EQ(GetUIServices().GetDefaultReplacementContainer(), gDefaultReplacementContainer);
    gDefaultReplacementContainer->Add("player", "P1");
    gDefaultReplacementContainer->Clear();
    EXPECT_EQ(gDefaultReplacementContainer->GetEntryCount(), 0u);
}

}  // namespace
