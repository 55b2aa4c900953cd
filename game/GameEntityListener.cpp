#include "game/GameEntityListener.h"

GameEntityListener* gGameEntityListener = nullptr;
