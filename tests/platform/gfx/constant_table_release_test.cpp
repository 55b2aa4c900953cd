// A constant table asked of code it cannot read is released before the refusal: the
// heap holds no more blocks after the refusals than before (every allocation of this
// program is counted).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "platform/gfx/ShaderCompiler.h"

namespace {
std::atomic<int64_t> gLiveBlocks{0};
}  // namespace

// The replacements pair malloc with free themselves.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    ++gLiveBlocks;
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept {
    if (!p) return;
    --gLiveBlocks;
    std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace {

using namespace gfx;

constexpr uint32_t kVersion = 0xFFFE0300u, kEnd = 0x0000FFFFu, kCtab = 0x42415443u;

uint32_t Comment(uint32_t words) { return 0xFFFEu | (words << 16); }

// A table whose header, creator and target read, but whose one constant's name lies
// past the table.
std::vector<uint32_t> TableWithANameOutside() {
    std::vector<uint32_t> t = {28, 48, kVersion, 1, 28, 0, 56};     // header
    t.insert(t.end(), {0xFFFF, 0, 0, 0, 0});                          // the constant: name offset outside
    t.insert(t.end(), {0x61657263, 0x00726f74, 0x335f7376, 0x0000305f});  // "creator", "vs_3_0"
    std::vector<uint32_t> code = {kVersion, Comment(uint32_t(t.size()) + 1), kCtab};
    code.insert(code.end(), t.begin(), t.end());
    code.push_back(kEnd);
    return code;
}

TEST(ConstantTable, UnreadableCodeIsRefusedWithoutLeavingTheTable) {
    struct Row {
        const char* name;
        std::vector<uint32_t> code;
    };
    const Row rows[] = {
        {"shorter than two tokens", {kVersion}},
        {"the end before any table", {kVersion, 0x02000001u, 0x800F0000u, 0xA0E40000u, kEnd}},
        {"a comment running past the code", {kVersion, Comment(40), kCtab, 28, kEnd}},
        {"a constant named outside its table", TableWithANameOutside()},
    };
    for (const Row& row : rows) {
        ConstantTable* table = nullptr;
        // Once first: whatever is made on a first use stays for the program.
        (void)GetShaderConstantTableSized(row.code.data(), row.code.size() * 4, &table);
        const int64_t before = gLiveBlocks.load();
        for (int i = 0; i < 10; ++i) {
            table = reinterpret_cast<ConstantTable*>(uintptr_t(1));
            EXPECT_EQ(GetShaderConstantTableSized(row.code.data(), row.code.size() * 4, &table), ERR_INVALIDDATA) << row.name;
            EXPECT_EQ(table, nullptr) << row.name;
        }
        EXPECT_EQ(gLiveBlocks.load(), before) << row.name << ": the refused tables stay on the heap";
    }
}

}  // namespace
