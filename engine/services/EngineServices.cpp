#include "engine/services/EngineServices.h"

EngineServices gEngineServices;
