#pragma once
// The constants scripts see for UI elements and their actions (registered under these
// names by the UI binding package). Their values are fixed: scripts, recipes and the
// render side all store them.
#include <cstdint>

// Element flags (main copy and render copy).
constexpr uint32_t UIFLAG_TRANSPARENT = 0x1;
constexpr uint32_t UIFLAG_HIDDEN = 0x2;
constexpr uint32_t UIFLAG_CLEARZATSTART = 0x4;
constexpr uint32_t UIFLAG_FOLLOWMOUSE = 0x8;
constexpr uint32_t UIFLAG_FOCUSABLEWITHMOUSE = 0x10;
constexpr uint32_t UIFLAG_PIXELPERFECTFONT = 0x60;  // two bits
constexpr uint32_t UIFLAG_NOSPECIALTAGSUBSTITUTION = 0x100;
constexpr uint32_t UIFLAG_HIERARCHICALANCHOR = 0x200;
constexpr uint32_t UIFLAG_DRAWPENDINGUIELEMENTS = 0x800;
constexpr uint32_t UIFLAG_DRAWDEBUGBOX = 0x1000;
constexpr uint32_t UIFLAG_PERSISTENTTAP = 0x2000;
constexpr uint32_t UIFLAG_TEXTTAG = 0x4000;
constexpr uint32_t UIFLAG_APPENDSPACETOCOMPUTETEXTLENGTH = 0x8000;
constexpr uint32_t UIFLAG_FADEATPARENTBORDERUPDOWN = 0x10000;
constexpr uint32_t UIFLAG_FADEATPARENTBORDERLEFTRIGHT = 0x20000;
constexpr uint32_t UIFLAG_FREEZEALIGNMENTOFFSET = 0x40000;
constexpr uint32_t UIFLAG_DEPTHTEST = 0x80000;
constexpr uint32_t UIFLAG_DRAWPENDINGUIELEMENTSBEFORE = 0x200000;
constexpr uint32_t UIFLAG_FADECHILDREN = 0x400000;
constexpr uint32_t UIFLAG_DISABLEFADE = 0x800000;
constexpr uint32_t UIFLAG_DRAWZEROALPHA = 0x10000000;
constexpr uint32_t UIFLAG_BLOCKFOCUS = 0x20000000;

// Render-only flags: never set by scripts through the main copy.
constexpr uint32_t UIRENDERFLAG_OFFSCREEN = 0x400;  // entity tracking: skipped when drawn as a child
constexpr uint32_t UIRENDERFLAG_PENDINGDELETION = 0x100000;  // queued for deletion on the render side
constexpr uint32_t UIRENDERFLAG_FOLLOWTAP = 0x2000000;  // follows the tap position of its tap id
constexpr uint32_t UIRENDERFLAG_FRUSTUMCULL = 0x80;        // skipped when its extent leaves the view frustum
constexpr uint32_t UIRENDERFLAG_CLIPCHILDREN = 0x4000000;  // clips its subtree to its rectangle
constexpr uint32_t UIRENDERFLAG_TEMPLATECAMERA = 0x8000000;  // template views: the UI template camera

constexpr uint32_t UIWINDOWALIGNMENT_NONE = 0;
constexpr uint32_t UIWINDOWALIGNMENT_LEFT = 1;
constexpr uint32_t UIWINDOWALIGNMENT_RIGHT = 2;
constexpr uint32_t UIWINDOWALIGNMENT_TOP = 3;
constexpr uint32_t UIWINDOWALIGNMENT_BOTTOM = 4;
constexpr uint32_t UIWINDOWALIGNMENT_LEFTTOP = 5;
constexpr uint32_t UIWINDOWALIGNMENT_LEFTBOTTOM = 6;
constexpr uint32_t UIWINDOWALIGNMENT_RIGHTTOP = 7;
constexpr uint32_t UIWINDOWALIGNMENT_RIGHTBOTTOM = 8;

constexpr uint32_t UICOLOR_STATIC = 0;
constexpr uint32_t UICOLOR_MULTIPLYBYPARENTALPHA = 1;
constexpr uint32_t UICOLOR_MULTIPLYBYPARENTCOLOR = 2;

constexpr uint32_t BLEND_NONE = 0;
constexpr uint32_t BLEND_ALPHA = 1;
constexpr uint32_t BLEND_ADD = 2;
constexpr uint32_t BLEND_ADDALPHA = 3;
constexpr uint32_t BLEND_INVALPHA = 4;

constexpr uint32_t TEXTALIGNMENT_LEFT = 0;
constexpr uint32_t TEXTALIGNMENT_RIGHT = 1;
constexpr uint32_t TEXTALIGNMENT_CENTER = 2;

constexpr uint32_t UITEXTCONVERSION_NONE = 0;
constexpr uint32_t UITEXTCONVERSION_UPPERCASE = 1;

// Action flags: easing in the low three bits, then behaviour and clock bits.
constexpr uint32_t UIACTIONFLAG_LINEAR = 0;
constexpr uint32_t UIACTIONFLAG_HALFSINE = 1;
constexpr uint32_t UIACTIONFLAG_INVHALFSINE = 2;
constexpr uint32_t UIACTIONFLAG_SINE = 3;
constexpr uint32_t UIACTIONFLAG_HALFSINESLOW = 4;
constexpr uint32_t UIACTIONFLAG_REPEAT = 0x8;
constexpr uint32_t UIACTIONFLAG_GAMEPLAYTIME = 0x10;
constexpr uint32_t UIACTIONFLAG_SYSTEMTIME = 0x20;
constexpr uint32_t UIACTIONFLAG_REMOVEOTHERACTIONS = 0x40;
constexpr uint32_t UIACTIONFLAG_DONOTWAIT = 0x80;
constexpr uint32_t kUIActionEasingMask = 0x7;
constexpr uint32_t kUIActionClockMask = 0x30;

// Entity tracking (op 24).
constexpr uint32_t UIENTITYTRACKING_STAYONSCREEN = 1;
constexpr uint32_t UIENTITYTRACKING_BORDERONLY = 2;
constexpr uint32_t UIENTITYTRACKING_ROTATETOWARDSTARGET = 4;
constexpr uint32_t UIENTITYTRACKING_PERSPECTIVESCALE = 8;
constexpr uint32_t UIENTITYTRACKING_HEALTHBARMODE = 16;
constexpr uint32_t UIENTITYTRACKING_RELATIVETOPARENT = 128;

// Action channels per element.
constexpr uint32_t kUIActionChannels = 4;
// The mark a temporary loading-screen tree passes to its resources and templates.
constexpr uint32_t kUILoadingScreenMark = 0x300;

static_assert(UIFLAG_PIXELPERFECTFONT == (0x20 | 0x40), "the pixel-perfect font flag is two bits");
static_assert((UIFLAG_HIDDEN | UIRENDERFLAG_PENDINGDELETION) == 0x100002, "deletion raises both bits at once");
static_assert((UIRENDERFLAG_OFFSCREEN & (UIFLAG_TRANSPARENT | UIFLAG_HIDDEN | UIFLAG_CLEARZATSTART | UIFLAG_FOLLOWMOUSE |
                                         UIFLAG_FOCUSABLEWITHMOUSE | UIFLAG_PIXELPERFECTFONT |
                                         UIFLAG_NOSPECIALTAGSUBSTITUTION | UIFLAG_HIERARCHICALANCHOR |
                                         UIFLAG_DRAWPENDINGUIELEMENTS)) == 0,
              "the off-screen bit is free of script flags");
static_assert(UIWINDOWALIGNMENT_RIGHTBOTTOM == 8 && BLEND_INVALPHA == 4 && UICOLOR_MULTIPLYBYPARENTCOLOR == 2);
static_assert(UIACTIONFLAG_DONOTWAIT == 128 && kUIActionClockMask == (UIACTIONFLAG_GAMEPLAYTIME | UIACTIONFLAG_SYSTEMTIME));
