#pragma once
// ResourcePool: every resource of one kind, in an index sorted by name (ASCII case
// folded, '\' written as '/'), plus the detached list of resources discarded from the
// index while still in use.
//
// Threads: every operation runs under the ResourceManager's manager lock (the pools are
// the manager's); use counts are changed under the global resource lock inside.
#include <cstdint>
#include <vector>

class Resource;

class ResourcePool {
public:
    ResourcePool() = default;
    // Deletes every indexed resource (after clearing its pool) and every detached one.
    virtual ~ResourcePool();
    ResourcePool(const ResourcePool&) = delete;
    ResourcePool& operator=(const ResourcePool&) = delete;

    // Allocates and constructs the kind's resource for a normalised name; null on
    // failure. The template pool reads the parameter as a template type row.
    virtual Resource* CreateResource(const char* name, uint32_t parameter) = 0;
    // Logs the memory pool of the kind's data, where it has one (the sounds' chunks).
    virtual void LogMemory() {}

    // Index of the name, or -1.
    int32_t Find(const char* name) const;
    // Null for a null name or one longer than kMaxResourceName (one error line). The
    // absent name is created (create flag) and inserted; flags are ORed in; the caller
    // gets one use of the result.
    Resource* GetResource(const char* name, uint32_t parameter, bool create, uint32_t flags);
    // Inserts at the name's sorted place and takes the resource; false when the name is
    // already indexed.
    bool Insert(Resource* resource);
    // Leaves the index (order kept); the resource's pool is cleared.
    void Remove(Resource* resource);
    // Remove, then delete at once when unused, else keep on the detached list. Nothing
    // for a resource that is not in this pool's index.
    void Discard(Resource* resource);
    // Appends to out every indexed resource without users whose flags & mask equal
    // value & mask (mask 0: every unused one), then every detached one without users;
    // both leave the pool. The caller deletes them.
    void CollectUnused(std::vector<Resource*>& out, uint32_t mask, uint32_t value);
    void SetFlagsOnAll(uint32_t bits);

    uint32_t Count() const { return static_cast<uint32_t>(index.size()); }
    Resource* At(uint32_t i) const { return index[i]; }
    uint32_t DetachedCount() const { return static_cast<uint32_t>(detached.size()); }

protected:
    // Deletes every resource of the pool (the destructor's work; a kind whose resources
    // need a service the pool frees calls it first).
    void DeleteAll();

private:
    // First position whose name does not sort before the given one.
    uint32_t LowerBound(const char* name) const;

    std::vector<Resource*> index;
    std::vector<Resource*> detached;
};

// Copies name into buffer (kMaxResourceName + 1 bytes) with every '\' replaced by '/';
// false (one error line) when it does not fit.
bool NormaliseResourceName(const char* name, char* buffer);
