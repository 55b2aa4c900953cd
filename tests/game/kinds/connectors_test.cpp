// The remote connector array's records (initial values, independence, the outgoing-index
// bits modulo 32, refused indices with one warning per entity) and the counter text.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "CaptureLogSink.h"
#include "game/kinds/ZKRCounterText.h"
#include "game/kinds/ZKRRemoteConnectorArray.h"

namespace {

using Array = ZKRRemoteConnectorArrayEntity;

bool IsInitial(const Array& a, uint32_t i) {
    if (a.IsMarked(i) || a.IsDisabled(i) || a.GetActiveOutFlagIndex(i) != 1) return false;
    for (uint32_t bit = 0; bit < 32; ++bit)
        if (a.IsOutIndexDisabled(i, bit)) return false;
    return true;
}

TEST(RemoteConnectors, RecordsAreIndependent) {
    Array a;
    for (uint32_t i = 0; i < Array::kConnectors; ++i) ASSERT_TRUE(IsInitial(a, i)) << i;
    a.SetMarked(5, true);
    a.SetDisabled(5, true);
    a.SetActiveOutFlagIndex(5, 9);
    a.SetOutIndexDisabled(5, 3, true);
    EXPECT_TRUE(a.IsMarked(5));
    EXPECT_TRUE(a.IsDisabled(5));
    EXPECT_EQ(a.GetActiveOutFlagIndex(5), 9u);
    EXPECT_TRUE(a.IsOutIndexDisabled(5, 3));
    EXPECT_FALSE(a.IsOutIndexDisabled(5, 4));
    EXPECT_TRUE(IsInitial(a, 4));
    EXPECT_TRUE(IsInitial(a, 6));
    a.SetOutIndexDisabled(5, 3, false);
    EXPECT_FALSE(a.IsOutIndexDisabled(5, 3));
    a.SetMarked(199, true);
    EXPECT_TRUE(a.IsMarked(199));
}

// The outgoing index selects its bit modulo 32, on setting and on reading.
TEST(RemoteConnectors, OutgoingIndexModulo32) {
    struct Case {
        uint32_t set, read;
        bool disabled;
    };
    const Case cases[] = {{35, 3, true}, {3, 35, true}, {31, 63, true}, {32, 0, true}, {33, 2, false},
                          {0xFFFFFFFFu, 31, true}};
    for (const Case& c : cases) {
        Array a;
        a.SetOutIndexDisabled(0, c.set, true);
        EXPECT_EQ(a.IsOutIndexDisabled(0, c.read), c.disabled) << c.set << " " << c.read;
    }
}

// Index 200 and above change nothing and read the initial values, with one warning for
// the entity however often it happens.
TEST(RemoteConnectors, IndicesPastTheArray) {
    CaptureLogSink log;
    log.Attach();
    Array a;
    for (uint32_t index : {200u, 4294967295u}) {
        a.SetMarked(index, true);
        a.SetDisabled(index, true);
        a.SetActiveOutFlagIndex(index, 7);
        a.SetOutIndexDisabled(index, 2, true);
        EXPECT_TRUE(IsInitial(a, index)) << index;
    }
    for (uint32_t i = 0; i < Array::kConnectors; ++i) ASSERT_TRUE(IsInitial(a, i)) << i;
    int warnings = 0;
    for (const auto& m : log.Messages()) warnings += m.text.find("connector index") != std::string::npos;
    EXPECT_EQ(warnings, 1);
    Array other;
    EXPECT_FALSE(other.IsMarked(200));
    warnings = 0;
    for (const auto& m : log.Messages()) warnings += m.text.find("connector index") != std::string::npos;
    EXPECT_EQ(warnings, 2) << "each entity warns once";
}

TEST(CounterText, Formats) {
    struct Case {
        int32_t value;
        bool onesAsZeros;
        const char* want;
    };
    const Case cases[] = {
        {1111, false, "1111"}, {1111, true, "1000"}, {0, false, "0"}, {0, true, "0"}, {1, true, "1"},
        {INT_MIN, false, "-2147483648"}, {INT_MIN, true, "-2047483648"}, {-11, true, "-00"},
        {INT_MAX, true, "2047483647"},
    };
    for (const Case& c : cases) {
        char out[kCounterTextCapacity];
        FormatCounterText(c.value, c.onesAsZeros, out);
        EXPECT_STREQ(out, c.want) << c.value << " " << c.onesAsZeros;
    }
    ZKRHackedSetCounterText(nullptr, 5, true);  // no element: nothing
}

}  // namespace
