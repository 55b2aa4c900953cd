// test-sanitize: address
#include <gtest/gtest.h>

#include <cstring>

#include "LuaTestSupport.h"
#include "core/Memory.h"
#include "core/profiler/Profiler.h"

namespace {

// Tables, strings and closures made and dropped in rounds.
constexpr const char* kChurn =
    "local keep = {}\n"
    "for round = 1, 60 do\n"
    "  local t = {}\n"
    "  for i = 1, 150 do t[i] = {i, tostring(i) .. 'x', name = 'n' .. i, f = function() return i end} end\n"
    "  keep[round % 4] = t\n"
    "  local s = ''\n"
    "  for i = 1, 40 do s = s .. string.char(65 + (i + round) % 26) end\n"
    "  keep.text = s .. string.rep('-', round)\n"
    "  if round % 10 == 0 then collectgarbage('collect') end\n"
    "end\n"
    "churned = #keep[1] + #keep.text";

}  // namespace

TEST_F(LuaHostTest, EveryScriptBlockComesFromThePools) {
    ASSERT_NE(gSmallObjectPools, nullptr);
    gProfiler.SetValue(PROFILE_LUA_ALLOC_NUM, 0.0f, PROFILER_THREAD_MAIN);
    const uint32_t poolsBefore = gSmallObjectPools->AllAllocations();
    ASSERT_TRUE(gLua.ExecuteString(kChurn));
    const uint32_t allocations = gSmallObjectPools->AllAllocations() - poolsBefore;
    EXPECT_GT(allocations, 10000u);
    EXPECT_EQ(static_cast<float>(allocations), gProfiler.Counter(PROFILE_LUA_ALLOC_NUM).value);
    EXPECT_EQ(Eval("churned"), "250");
}

TEST_F(LuaHostTest, ExhaustedBudgetFailsGrowthWithStatusFourAndKeepsShrinks) {
    LuaWrapper::SetAllocationBudget(LuaWrapper::AllocatedBytes() + 64 * 1024);
    EXPECT_FALSE(gLua.ExecuteString("local t = {} for i = 1, 1e6 do t[i] = i end"));
    EXPECT_TRUE(Logged("LUA_ERROR: memory allocation error."));
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 1u);
    EXPECT_EQ(Top(), 0);

    // The allocator itself: with the budget exhausted nothing new is handed out, but a
    // shrink keeps its block (Lua requires it to succeed).
    LuaWrapper::SetAllocationBudget(SIZE_MAX);
    const size_t start = LuaWrapper::AllocatedBytes();
    // A new block counts only its own size, whatever old size comes with it.
    auto* block = static_cast<uint8_t*>(LuaWrapper::HostAllocate(nullptr, nullptr, 5, 100));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(LuaWrapper::AllocatedBytes(), start + 100);
    for (int i = 0; i < 100; ++i) block[i] = static_cast<uint8_t>(i);
    const size_t used = LuaWrapper::AllocatedBytes();
    LuaWrapper::SetAllocationBudget(used);
    EXPECT_EQ(LuaWrapper::HostAllocate(nullptr, nullptr, 0, 16), nullptr);
    EXPECT_EQ(LuaWrapper::HostAllocate(nullptr, block, 100, 200), nullptr);
    EXPECT_EQ(LuaWrapper::HostAllocate(nullptr, block, 100, 40), block);
    EXPECT_EQ(LuaWrapper::AllocatedBytes(), used - 60);

    // With room, every resize moves, shrinks included, and keeps the bytes.
    LuaWrapper::SetAllocationBudget(SIZE_MAX);
    auto* moved = static_cast<uint8_t*>(LuaWrapper::HostAllocate(nullptr, block, 40, 24));
    ASSERT_NE(moved, nullptr);
    EXPECT_NE(moved, block);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(moved[i], i);
    EXPECT_EQ(LuaWrapper::HostAllocate(nullptr, moved, 24, 0), nullptr);
    EXPECT_EQ(LuaWrapper::AllocatedBytes(), used - 100);

    // The collector and the report run with nothing to spare and end nothing.
    ASSERT_TRUE(gLua.ExecuteString("garbage = {} for i = 1, 3000 do garbage[i] = {i} end garbage = nil"));
    LuaWrapper::SetAllocationBudget(LuaWrapper::AllocatedBytes());
    for (int i = 0; i < 200; ++i) gLua.StepGarbageCollector();
    LuaWrapper::SetAllocationBudget(LuaWrapper::AllocatedBytes());
    EXPECT_FALSE(gLua.ExecuteString("never = 'compiled'"));
    LuaWrapper::SetAllocationBudget(SIZE_MAX);
    EXPECT_TRUE(gLua.ExecuteString("after = 1"));
    EXPECT_EQ(Top(), 0);
}

TEST_F(LuaHostTest, CollectorStepsAddTheFreedKilobytes) {
    ASSERT_TRUE(gLua.ExecuteString("garbage = {} for i = 1, 20000 do garbage[i] = {i, 'g' .. i} end"));
    ASSERT_TRUE(gLua.ExecuteString("garbage = nil"));
    gProfiler.SetValue(PROFILE_LUA_GC_MEM, 0.0f, PROFILER_THREAD_MAIN);
    const int before = lua_gc(L(), LUA_GCCOUNT, 0);
    for (int i = 0; i < 1000; ++i) gLua.StepGarbageCollector();
    const int after = lua_gc(L(), LUA_GCCOUNT, 0);
    EXPECT_GT(before - after, 1000);
    EXPECT_EQ(gProfiler.Counter(PROFILE_LUA_GC_MEM).value, static_cast<float>(before - after));
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 0u);
}

TEST_F(LuaHostTest, FinaliserErrorsInACollectorStepAreReported) {
    ASSERT_TRUE(gLua.ExecuteString("local p = newproxy(true)\n"
                                   "getmetatable(p).__gc = function() error('in finaliser') end\n"
                                   "p = nil"));
    for (int i = 0; i < 1000 && LuaWrapper::GetErrorCount() == 0; ++i) gLua.StepGarbageCollector();
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 1u);
    EXPECT_TRUE(Logged("LUA: error in 'StepGarbageCollector'"));
    EXPECT_EQ(Top(), 0);
}
