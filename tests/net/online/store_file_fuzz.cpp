// Arbitrary bytes as the in-game store's definition file, through the store's loader
// (the Solid blob reader and the store's property list). Seeds are stores written by the
// engine's own writer: items of InGameStoreItem and of a derived class, with and without
// images. A load either succeeds, and the store then writes back to bytes that load
// the same, or fails with the store empty.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "ProgramStaticInit.h"
#include "StoreTestSupport.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "store_file_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    storetest::RegisterTestClasses();
    return 0;
}

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    InGameStore full;
    storetest::Fill(full);
    const std::vector<uint8_t> a = storetest::Written(full);
    add(a.data(), a.size());
    InGameStore empty;
    const std::vector<uint8_t> b = storetest::Written(empty);
    add(b.data(), b.size());
    InGameStore one;
    one.items.Add(new storetest::TestStoreItem);
    const std::vector<uint8_t> c = storetest::Written(one);
    add(c.data(), c.size());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InGameStore store;
    const bool loaded = store.LoadFromBytes(data, size);
    DynarraySafe<NameString> files;
    store.GetItemImageFiles(0, files);
    if (!loaded) {
        Check(store.items.Count() == 0, "failed load left items");
        Check(files.Count() == 0, "failed load listed images");
        return 0;
    }
    for (uint32_t i = 0; i < store.items.Count(); ++i)
        if (store.items[i]) Check(dynamic_cast<InGameStoreItem*>(store.items[i]) != nullptr, "item of a foreign class");
    const std::vector<uint8_t> again = storetest::Written(store);
    InGameStore reread;
    Check(reread.LoadFromBytes(again.data(), again.size()), "written store does not load");
    // Bytes, not values: a float read from arbitrary bytes may be a NaN.
    Check(storetest::Written(reread) == again, "written store loads different");
    return 0;
}
