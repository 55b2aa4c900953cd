#include "scene/SceneServices.h"

SceneServices gSceneServices;
