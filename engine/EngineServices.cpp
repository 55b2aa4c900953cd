#include "engine/EngineServices.h"

EngineServices gEngineServices;
