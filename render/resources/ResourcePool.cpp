#include "render/resources/ResourcePool.h"

#include <algorithm>
#include <cstring>

#include "core/Log.h"
#include "core/fs/FsUtil.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"

bool NormaliseResourceName(const char* name, char* buffer) {
    const size_t length = std::strlen(name);
    if (length > kMaxResourceName) {
        gLog.Error(LogCategory::RenderDevice, "Resource name of %zu characters is longer than %u: %.64s...", length,
                   kMaxResourceName, name);
        buffer[0] = 0;
        return false;
    }
    for (size_t i = 0; i <= length; ++i) buffer[i] = name[i] == '\\' ? '/' : name[i];
    return true;
}

ResourcePool::~ResourcePool() { DeleteAll(); }

void ResourcePool::DeleteAll() {
    std::vector<Resource*> all;
    all.swap(index);
    for (Resource* r : all) {
        r->pool = nullptr;
        delete r;
    }
    all.clear();
    all.swap(detached);
    for (Resource* r : all) delete r;
}

uint32_t ResourcePool::LowerBound(const char* name) const {
    const auto at = std::lower_bound(index.begin(), index.end(), name, [](const Resource* r, const char* key) {
        return fs::CompareNoCase(r->GetName() ? r->GetName() : "", key) < 0;
    });
    return static_cast<uint32_t>(at - index.begin());
}

int32_t ResourcePool::Find(const char* name) const {
    if (!name) return -1;
    const uint32_t i = LowerBound(name);
    if (i < Count() && fs::CompareNoCase(index[i]->GetName() ? index[i]->GetName() : "", name) == 0)
        return static_cast<int32_t>(i);
    return -1;
}

Resource* ResourcePool::GetResource(const char* name, uint32_t parameter, bool create, uint32_t flags) {
    if (!name) return nullptr;
    char normalised[kMaxResourceName + 1];
    if (!NormaliseResourceName(name, normalised)) return nullptr;
    Resource* resource = nullptr;
    const int32_t found = Find(normalised);
    if (found >= 0) {
        resource = index[found];
    } else {
        if (!create) return nullptr;
        resource = CreateResource(normalised, parameter);
        if (!resource) return nullptr;
        if (!Insert(resource)) {
            // A kind that names its resource differently from the request collided with
            // an indexed one; the request gets nothing rather than a second copy.
            delete resource;
            return nullptr;
        }
    }
    resource->AddFlags(flags);
    resource->AddRef();
    return resource;
}

bool ResourcePool::Insert(Resource* resource) {
    if (!resource) return false;
    const char* name = resource->GetName() ? resource->GetName() : "";
    const uint32_t at = LowerBound(name);
    if (at < Count() && fs::CompareNoCase(index[at]->GetName() ? index[at]->GetName() : "", name) == 0) return false;
    index.insert(index.begin() + at, resource);
    resource->pool = this;
    return true;
}

void ResourcePool::Remove(Resource* resource) {
    if (!resource) return;
    resource->pool = nullptr;
    for (auto it = index.begin(); it != index.end(); ++it) {
        if (*it == resource) {
            index.erase(it);
            return;
        }
    }
}

void ResourcePool::Discard(Resource* resource) {
    // A resource outside this pool's index was discarded (or collected) already: a
    // second entry on the detached list would delete it twice.
    if (!resource || resource->pool != this) return;
    Remove(resource);
    bool unused;
    {
        CriticalSectionGuard guard(GlobalResourceLock());
        unused = resource->GetUseCount() == 0;
        if (!unused) detached.push_back(resource);
    }
    if (unused) delete resource;
}

void ResourcePool::CollectUnused(std::vector<Resource*>& out, uint32_t mask, uint32_t value) {
    CriticalSectionGuard guard(GlobalResourceLock());
    auto keep = index.begin();
    for (Resource* r : index) {
        if (r->GetUseCount() == 0 && (r->GetFlags() & mask) == (value & mask)) {
            r->pool = nullptr;
            out.push_back(r);
        } else {
            *keep++ = r;
        }
    }
    index.erase(keep, index.end());
    keep = detached.begin();
    for (Resource* r : detached) {
        if (r->GetUseCount() == 0)
            out.push_back(r);
        else
            *keep++ = r;
    }
    detached.erase(keep, detached.end());
}

void ResourcePool::SetFlagsOnAll(uint32_t bits) {
    for (Resource* r : index) r->AddFlags(bits);
}
