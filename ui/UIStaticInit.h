#pragma once
// The UI library's rows of the ordered start-up (see core/StaticInit.h), module 4: the
// element focus table, the UIElement, UIVideo, text element, widget and console screen classes
// (no properties), the video engine, the pending-deletion list and the seams through
// which the libraries below reach the UI;
// module 6: the localised strings' classes and the default replacement container.
#include "core/StaticInit.h"

extern const StaticInitTable kUIStaticInit;

// Installs the UI's seams (UIServices, UIDrawServices, SceneUIServices and the others it
// serves to the libraries below). The start-up row runs it and pushes the clearing onto the exit
// stack; tests that reset those seams call it again.
void InstallUIServices();
// Restores the defaults of every seam InstallUIServices installs.
void ClearUIServices();
