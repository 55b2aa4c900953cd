#include "render/RenderHooks.h"

RenderHooks gRenderHooks = {};
