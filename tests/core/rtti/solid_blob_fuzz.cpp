// Arbitrary bytes into the property-list, Solid blob and name readers of a rich test
// class. The first byte picks the reader and its options.
#include <cstdint>
#include <vector>

#include "RichTestClass.h"

using namespace richtest;

namespace {

FakeEntityManager& Manager() {
    static FakeEntityManager* m = [] {
        auto* mgr = new FakeEntityManager;
        static FakeEntity e;
        e.guid = MakeGuid(0x90);
        mgr->entities.push_back(&e);
        return mgr;
    }();
    return *m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Manager();
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    static const uint32_t kOptions[] = {0, kSerializeSolidCheck, kSerializeNoEntityPass, kSerializeSkipGuid};
    const uint32_t options = kOptions[(mode >> 2) & 3];
    switch (mode & 3) {
    case 0: {
        RichObject o;
        BoundedReader in(data, size);
        o.SolidDeserialize(in, options & ~kSerializeSolidCheck);
        break;
    }
    case 1:
    case 2: {
        RichObject o;
        SolidDeserializeFromBuffer(o, data, size, options);
        // Whatever was read must write and read back without fault.
        std::vector<uint8_t> again;
        SolidSerializeToBuffer(o, again, 0);
        RichObject p;
        SolidDeserializeFromBuffer(p, again.data(), again.size(), 0);
        break;
    }
    default: {
        NameString n("seed");
        BoundedReader in(data, size);
        while (n.Read(in)) {
            if (in.Remaining() == 0) break;
        }
        break;
    }
    }
    return 0;
}

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    Manager();
    RichObject o;
    FillRich(o, Manager().entities[0]);
    for (uint8_t mode : {0, 1, 5, 9, 13}) {
        std::vector<uint8_t> seed{mode};
        if ((mode & 3) == 0) {
            std::vector<uint8_t> payload(o.SolidSerialize(nullptr, 0));
            o.SolidSerialize(payload.data(), 0);
            seed.insert(seed.end(), payload.begin(), payload.end());
        } else {
            static const uint32_t kOptions[] = {0, kSerializeSolidCheck, kSerializeNoEntityPass, kSerializeSkipGuid};
            SolidSerializeToBuffer(o, seed, kOptions[(mode >> 2) & 3]);
        }
        add(seed.data(), seed.size());
    }
    std::vector<uint8_t> names{3};
    NameString n("Mesh");
    names.resize(names.size() + n.Write(nullptr, 0));
    n.Write(names.data() + 1, 0);
    add(names.data(), names.size());
}
