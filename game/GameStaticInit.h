#pragma once
// The Game's rows of the ordered start-up (see core/StaticInit.h): the Game object and
// the scripts' configuration helper. A program that links game runs RunStaticInit with
// kGameStaticInit after the tables of the libraries below.
#include "core/StaticInit.h"

extern const StaticInitTable kGameStaticInit;
