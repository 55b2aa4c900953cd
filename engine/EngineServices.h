#pragma once
// The services of subsystems built above the engine (rendering, scene content, user
// interface, sound, multiplayer and online services), reached by the engine only through
// this one table of hooks. Each library fills its entries from its own start-up rows; an
// empty entry means the least behaviour, which each caller documents. Later subsystems
// extend the table by adding entries.
//
// Main thread; filled at start-up, read afterwards.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/text/NameString.h"

class InGameStore;
class Matrix;
class SequenceActionFactory;
class SequenceSpawner;
class SequenceSystem;
class ShaderManager;
class SoundEngine;
class SoundEntriesContainer;
class StringReplacementContainer;
class UIElement;
class UIScreen;
class UITextBase;
struct Vector;
class VideoEngine;

struct EngineServices {
    // ---- Multiplayer and online services ----
    // InGameStore from the project's store definition file; deleted through
    // deleteInGameStore. Without it the delegate's store request does nothing.
    InGameStore* (*createInGameStore)(const char* definitionFile) = nullptr;
    void (*deleteInGameStore)(InGameStore* store) = nullptr;
    // InGameStore::GetItemImageFiles: appends every item's image file name.
    void (*getInGameStoreItemImageFiles)(InGameStore* store, uint32_t word, DynarraySafe<NameString>& files) = nullptr;

    // ---- Singletons published to scripts by LuaWrapper::Init (nil while a hook is empty
    // or returns null) ----
    ShaderManager* (*shaderManager)() = nullptr;                            // gShaderManager
    SoundEngine* (*soundEngine)() = nullptr;                                // gSoundEngine
    SoundEntriesContainer* (*soundEntriesContainer)() = nullptr;            // gSoundEntriesContainer
    StringReplacementContainer* (*defaultReplacementContainer)() = nullptr;  // gDefaultReplacementContainer
    SequenceSystem* (*sequenceSystem)() = nullptr;                          // gSequenceSystem
    SequenceSpawner* (*sequenceSpawner)() = nullptr;                        // gSequenceSpawner
    SequenceActionFactory* (*sequenceActionFactory)() = nullptr;            // gSequenceActionFactory
    VideoEngine* (*videoEngine)() = nullptr;                                // gVideoEngine

    // ---- User interface ----
    // UIScreen::FindTrackedEntitySlot: the slot of an element the screen tracks,
    // negative when it does not. Empty: no element is tracked.
    int32_t (*uiScreenFindTrackedEntitySlot)(UIScreen* screen, UIElement* element) = nullptr;
    // UIScreen::HitTestTrackedEntity: whether the position lies inside the tracked
    // element. Empty: nothing is hit.
    bool (*uiScreenHitTestTrackedEntity)(UIScreen* screen, int32_t slot, const Vector& position) = nullptr;
    // UITextBase::SetTextUnicharPtr (null clears the text) and UITextBase::AppendText.
    // Empty: nothing is written.
    void (*uiTextSetTextUnicharPtr)(UITextBase* text, const char16_t* characters) = nullptr;
    void (*uiTextAppendText)(UITextBase* text, const char16_t* characters) = nullptr;

    // ---- Sound ----
    // SoundEngine::SetListener: posts the listener (rows side, up, forward, position) to
    // the sound thread. Empty: no listener.
    void (*soundEngineSetListener)(const Matrix& listener) = nullptr;
};

extern EngineServices gEngineServices;
