#include "game/delegate/GameEntityListener.h"

GameEntityListener* gGameEntityListener = nullptr;
