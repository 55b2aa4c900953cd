#pragma once
// The scene's entries into the libraries linked above it (sound, UI). Each entry is null
// until the start-up row of the library that serves it fills it; callers check for null
// and fall back to doing nothing, so the scene runs without those libraries (and tests put
// recording doubles in their place).
class Entity;
class Matrix;
class SafePointerRoot;

struct SceneServices {
  // Main thread: releases the UI element an in-game UI entity holds. The entity keeps it as
  // a safe pointer to its root base; the UI library casts back to its element type.
  void (*uiElementRelease)(SafePointerRoot* element) = nullptr;
  // Main thread: plays a sound with the default parameters but these volume, ranges and
  // channel; on the owner entity, or as a system sound when the owner is null. The
  // instance id (0: none).
  unsigned (*playSound)(Entity* owner, const char* name, float volume, float fullVolumeRange, float zeroVolumeRange,
                        int channel) = nullptr;
  // Render thread: draws the element tree of an in-game UI entity with the UI transform
  // (UI units to world); interaction false keeps the tree out of hit testing.
  void (*uiDrawElementTree)(SafePointerRoot* element, const Matrix& uiTransform, bool interaction) = nullptr;

  // ---- Effect sounds (render thread, where the effect elements run) ----
  // A positional emitter at the matrix; null when none could be made.
  void* (*soundEmitterCreate)(const Matrix& matrix) = nullptr;
  void (*soundEmitterPostTransform)(void* emitter, const Matrix& matrix) = nullptr;
  void (*soundEmitterRelease)(void* emitter) = nullptr;
  // Plays a sound entry on the emitter; the entry's own volume goes to entryVolume. The
  // instance id, 0 when nothing started.
  unsigned (*soundEntryPlay)(const char* entryName, void* emitter, unsigned channel, float volume,
                             float* entryVolume) = nullptr;
  void (*soundEntryPreload)(const char* entryName) = nullptr;
  // Fades the instance to the target volume over the seconds along the curve; owner is
  // the emitter that started it.
  void (*soundSetVolume)(unsigned id, float target, float seconds, unsigned curve, void* owner) = nullptr;
  void (*soundExitLoop)(unsigned id, void* owner) = nullptr;

  // Main thread: an effect entity's mesh elements of the template refresh from it (the
  // effect layer fills it; mesh templates call it when they change).
  void (*sfxRefreshMeshTemplate)(Entity* entity, void* meshTemplate) = nullptr;
};

extern SceneServices gSceneServices;
