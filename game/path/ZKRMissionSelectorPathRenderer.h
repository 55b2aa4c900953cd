#pragma once
// ZKRMissionSelectorPathRenderer: a UI element that draws a route on the mission-selection
// screen out of its children. Under its child "Indicators" stand the route's stops, under
// "Segments" the pieces between them; each draw stretches the n-th segment from the n-th
// indicator to the next one. An indicator carries two numbers in its colour: red scales
// the length, green times red times the indicator's scale is the gap left at each end.
//
// Threads: constructed on the main thread like every element; Draw on the render thread,
// where it finds the two lists by the render half's copy of their names and moves the
// segments with the render-side setters.
#include "ui/elements/UIElement.h"

class ZKRMissionSelectorPathRenderer : public UIElement {
public:
    ZKRMissionSelectorPathRenderer();

    // Render thread: places the segments, then draws nothing of its own.
    void Draw(const Matrix& world, const Vector& colour, bool mirrored, const UIFadeRecord* fade) override;

    // Render thread: the placement alone (Draw's work).
    void PlaceSegments();
};
