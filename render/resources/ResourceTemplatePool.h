#pragma once
// ResourceTemplatePool (type 3): entity templates are resources. The creation parameter
// is the template type row; the pool creates an object of the class that row names
// (through the name registry) and hands back its Resource part, which the entity
// library finds through TemplateResourceServices (this library cannot see EntityTemplate).
#include <cstdint>

#include "render/resources/ResourcePool.h"

class Resource;

class ResourceTemplatePool : public ResourcePool {
public:
    // Null for a null name (silently); a row without a class, an object that cannot be
    // made or has no Resource part logs "Resource of name %s not created!".
    Resource* CreateResource(const char* name, uint32_t typeRow) override;
};
