#pragma once
// SceneUIServices: what the scene's in-game UI entities need of the user-interface
// library, behind one small interface. The entity keeps its element as a safe pointer to
// the element's SafePointerRoot base; the UI library casts back to its element type. The
// UI library installs its implementation from its start-up row; until then (and after
// SetSceneUIServices(nullptr)) the base class releases and draws nothing.
class Matrix;
class SafePointerRoot;

class SceneUIServices {
public:
    virtual ~SceneUIServices() = default;

    // Main thread: releases the UI element an in-game UI entity holds.
    virtual void ReleaseElement(SafePointerRoot* element) {}
    // Render thread: draws the element tree of an in-game UI entity with the UI transform
    // (UI units to world); interaction false keeps the tree out of hit testing.
    virtual void DrawElementTree(SafePointerRoot* element, const Matrix& uiTransform, bool interaction) {}
};

SceneUIServices& GetSceneUIServices();
// Not owned; null restores the default.
void SetSceneUIServices(SceneUIServices* services);
