#pragma once
// Private to platform/gfx: reference counting of the objects that stand alone (the
// device factory, blobs, constant tables). The count starts at 1, may be changed from
// any thread, and the last Release deletes the object.
#include <atomic>
#include <cstdint>

namespace gfx::detail {

template <class Interface>
class SelfCounted : public Interface {
public:
    uint32_t AddRef() final { return ++refs; }
    uint32_t Release() final {
        const uint32_t r = --refs;
        if (r == 0) delete this;
        return r;
    }

private:
    std::atomic<uint32_t> refs{1};
};

}  // namespace gfx::detail
