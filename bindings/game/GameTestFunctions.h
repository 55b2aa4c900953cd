#pragma once
// The game's two test functions, bound through the game's test package.
//
// Threads: main thread only, like every script.
class Entity;

// a + b, saturating at the 32-bit limits.
int zkr2_sumtest(int a, int b);
// The entity's name; null (nil) for no entity.
const char* zkr2_testGetEntityName(Entity* entity);
