#pragma once
// The scene's entries into the libraries linked above it (sound, UI). Each entry is null
// until the start-up row of the library that serves it fills it; callers check for null
// and fall back to doing nothing, so the scene runs without those libraries (and tests put
// recording doubles in their place).
class SafePointerRoot;

struct SceneServices {
  // Main thread: releases the UI element an in-game UI entity holds. The entity keeps it as
  // a safe pointer to its root base; the UI library casts back to its element type.
  void (*uiElementRelease)(SafePointerRoot* element) = nullptr;
};

extern SceneServices gSceneServices;
