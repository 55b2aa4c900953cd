#pragma once
// The operations of later subsystems that render tasks call.
//
// The renderer links before the scene-content, user-interface and engine libraries,
// so it reaches their operations through this one table of function pointers. Each
// library fills its entries from its own start-up (static initialisation table or
// engine start-up) before the renderer starts; tests fill them with recording doubles.
// An empty entry does nothing (and a query answers its stated default).
//
// Threads: entries are written on the main thread while the render thread does not
// run and read afterwards; each entry says which thread calls it.
#include <cstdint>

class Matrix;
struct Vector;

// One clock of the frame-parameter task: a tick count and the frame time in seconds.
struct RenderFrameClock {
    int64_t ticks;
    float frameTime;
};

struct RenderHooks {
    // ---- Scene content (render thread) ----
    // Advances every live particle system by the three frame times of the frame.
    void (*particleSystemInstanceUpdateAll)(float engineTime, float gameTime, float gameplayTime);
    // Advances every live effect context with the three clocks of the frame (engine,
    // smooth game, smooth gameplay).
    void (*sfxContextUpdateAll)(const RenderFrameClock clocks[3]);
    // Draws one particle system (world matrix, 32-byte box, colour).
    void (*particleSystemInstanceDraw)(void* system, const Matrix& world, const void* box, const Vector& colour);
    // Allocates the shared particle arrays (device creation).
    void (*particleSystemInstanceInitGlobals)();
    // Draws one mesh (two matrices, 32-byte box, colour, value, flag byte; records: the
    // recordCount 48-byte records of the debug task, read in place from the command
    // stream at 16-byte alignment, or null).
    void (*meshTemplateRenderingDataDraw)(const void* meshData, const Matrix& world, const Matrix& previous,
                                          const void* box, const Vector& colour, uint32_t value, uint8_t flag,
                                          const void* records, uint32_t recordCount);
    // The mesh draw batch of the deferred pre-pass: Begin empties the batch and turns
    // batching on for the pass number and mode ((2, 3) geometry, (4, 0) compose, (8, 1)
    // the third pass); Flush draws what was batched (given the pass flags) and turns it off.
    void (*meshTemplateRenderingDataBeginDrawBatch)(uint32_t pass, uint32_t mode);
    void (*meshTemplateRenderingDataFlushDrawBatch)(uint32_t passFlags);
    // Draws one mesh part with optional bone records (as above).
    void (*meshTemplateRenderingDataDrawSkinned)(const void* meshData, const Matrix& world, const Vector& colour,
                                                 const void* records, uint32_t recordCount);

    // ---- User interface (render thread unless stated) ----
    // Removes the element's UI actions of a channel (-1: every channel).
    void (*uiElementRemoveActions)(void* element, int32_t channel);
    // Attaches a UIActionColor of that duration towards the colour.
    void (*uiElementAddColorAction)(void* element, float seconds, const Vector& colour, uint32_t flags,
                                    uint32_t channel);
    // The element's colour and its fade-in flag (defaults: opaque black, false).
    void (*uiElementSetColor)(void* element, const Vector& colour);
    Vector (*uiElementGetColor)(const void* element);
    bool (*uiElementHasFadeIn)(const void* element);
    // Draws the element and its children.
    void (*uiElementDraw)(void* element);
    // The UI's virtual width and height (default: the render size).
    void (*uiGetVirtualSize)(float* width, float* height);
    // Hands the last element queued for deletion to the main thread.
    void (*uiElementProcessPendingDeletion)();
    // Main thread: releases an element handed over by the render thread.
    void (*uiElementFinishPendingDeletion)();
    // Elements created minus elements destroyed (default 0; any thread).
    uint32_t (*uiElementLiveCount)();
    // Draws single-byte text (textBytes bytes, not terminated) through the font.
    void (*resourceFontDrawText)(void* font, const char* text, uint32_t textBytes, const Matrix& matrix,
                                 const Vector& colour, uint32_t valueA, uint8_t flag, uint32_t valueB);
    // The width of the text in pixels (default 0).
    float (*resourceFontMeasureText)(void* font, const char* text);
    // The shared glyph index buffer, with the device resources.
    void (*resourceFontCreateSharedIndexBuffer)();
    void (*resourceFontReleaseSharedIndexBuffer)();

    // ---- Game (render thread) ----
    // The game delegate's scene hook, once at the start of each scene pass (the delegate
    // handed over by task 9).
    void (*gameDelegateRenderScenePass)(void* delegate);

    // ---- Game controllers (the thread that resets the device) ----
    void (*gameControllersRelease)();
    void (*gameControllersReconnect)();
};

extern RenderHooks gRenderHooks;
