#pragma once
// UIDrawServices: what the renderer needs of the user interface (the loading screen's
// element, the UI's virtual size, the pending deletions, the live element count) and of
// the UI's text drawing through font resources, behind one small interface. The UI
// library installs its implementation from its start-up row, before the renderer starts;
// until then (and after SetUIDrawServices(nullptr)) the base class draws nothing, an
// element is opaque black without a fade-in, the virtual size is left as given (the
// render size), no element lives and text measures 0.
//
// Threads: installed on the main thread while the render thread does not run; called on
// the render thread unless a method says otherwise.
#include <cstdint>

#include "core/math/Vector.h"

class Matrix;
class Resource;
class UIElement;

class UIDrawServices {
public:
    virtual ~UIDrawServices() = default;

    // ---- The loading screen's element ----
    // Removes the element's UI actions of a channel (-1: every channel).
    virtual void RemoveActions(UIElement* element, int32_t channel) {}
    // Attaches a colour action of that duration towards the colour.
    virtual void AddColorAction(UIElement* element, float seconds, const Vector& colour, uint32_t flags,
                                uint32_t channel) {}
    virtual void SetColor(UIElement* element, const Vector& colour) {}
    virtual Vector GetColor(const UIElement* element) const { return Vector(0, 0, 0, 1); }
    virtual bool HasFadeIn(const UIElement* element) const { return false; }
    // Draws the element and its children.
    virtual void Draw(UIElement* element) {}

    // ---- The UI as a whole ----
    // The UI's virtual width and height (left untouched: the render size).
    virtual void GetVirtualSize(float* width, float* height) const {}
    // Hands the last element queued for deletion to the main thread.
    virtual void ProcessPendingDeletion() {}
    // Main thread: releases an element handed over by the render thread.
    virtual void FinishPendingDeletion() {}
    // Elements created minus elements destroyed (any thread).
    virtual uint32_t LiveElementCount() const { return 0; }

    // ---- Text through a font resource ----
    // Draws single-byte text (textBytes bytes, not terminated) through the font.
    virtual void DrawText(Resource* font, const char* text, uint32_t textBytes, const Matrix& matrix,
                          const Vector& colour, uint32_t blendMode, uint8_t mirrored, uint32_t depthState) {}
    // The width of the text in pixels.
    virtual float MeasureText(Resource* font, const char* text) const { return 0.0f; }
    // The shared glyph index buffer, with the device resources.
    virtual void CreateFontSharedIndexBuffer() {}
    virtual void ReleaseFontSharedIndexBuffer() {}
};

UIDrawServices& GetUIDrawServices();
// Not owned; null restores the default.
void SetUIDrawServices(UIDrawServices* services);
