#include "bindings/game/GameTestFunctions.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "engine/entity/Entity.h"

int zkr2_sumtest(int a, int b) {
    const int64_t sum = int64_t(a) + int64_t(b);
    return int(std::clamp<int64_t>(sum, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

const char* zkr2_testGetEntityName(Entity* entity) { return entity ? entity->GetName() : nullptr; }
