// test-sanitize: thread address
#include <gtest/gtest.h>

#include "CaptureLogSink.h"

TEST(LogSmoke, CapturedMessageCarriesSeverityCategoryAndText) {
    CaptureLogSink sink;
    sink.Attach();
    gLog.Print(1, 2, "hello %d", 42);
    gLog.Error(5, "broken %s", "thing");
    auto m = sink.Messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].severity, 1);
    EXPECT_EQ(m[0].category, 2);
    EXPECT_EQ(m[0].text, "hello 42");
    EXPECT_EQ(m[1].severity, 4);
    EXPECT_EQ(m[1].text, "broken thing");
}
