#pragma once
// The game library's rows of the ordered start-up (see core/StaticInit.h): the Game
// object, the scripts' configuration helper, the entity-creation listener and the
// game's entity and template classes (GameClassRegistration.cpp). A program that links
// game runs RunStaticInit with kGameStaticInit after the tables of the libraries below.
#include "core/StaticInit.h"

extern const StaticInitTable kGameStaticInit;
