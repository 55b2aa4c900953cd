#pragma once
// The table Peek of the behaviour cases (behaviour.txt "probe" lines): native state that
// no bound getter reads, so a case can see what a bound function did to its object.
//   Peek.MeshColor(mesh)        the mesh's local colour: four bytes and the intensity
//   Peek.MeshReplication(mesh)  the replicated animation and progress property indices
//   Peek.TextShadow(text)       the text's shadow offset (x, y, z, w) and whether it is on
//   Peek.UI(element, field)     a field of the element's render half: position, anchor,
//                               rotation, scale, size, color, extraParam (four numbers
//                               each), windowAlignment, blendMode, colorMode
//   Peek.Text(text, field)      shadowOffset, shadowColor, alignment (two numbers), conversion
//   Peek.Picture(picture, field) parameter, mapping (scale then offset), channel
//   Peek.Blur(blur)             its sigma, iterations and saturation
// Each gives nothing for an argument that is not a live object of its class.
struct lua_State;

void OpenBehaviourProbes(lua_State* L);
