#include "engine/entity/Entity.h"

void Entity::RequestDelete(uint32_t) {}
