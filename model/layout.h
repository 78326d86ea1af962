// Where things are drawn: the rectangles of the window and of the sprite sheet that several files use.
#pragma once

#include "model/equates.h"

// A unit's icon is 9 x 9 with its top-left at the unit's (x, y) and its centre 4 pixels in. On the
// sprite sheet the icons lie in cells of 10: column (type - 1), row side.
constexpr int ICON_SIZE = 9;
constexpr int ICON_CENTRE = 4;
constexpr int ICON_CELL = 10;

// The selection frame: 13 x 13, ringing the icon 2 pixels out; on the sprite sheet at (40, 0).
constexpr int CURSOR_SIZE = 13;
constexpr int CURSOR_MARGIN = 2;
constexpr int CURSOR_SHEET_X = 40;
constexpr int CURSOR_SHEET_Y = 0;

// Placement puts an icon's top-left at x 0..580, y 0..360, so that the whole icon and its frame
// stay on the map; the centres it samples lie within x 4..584, y 4..364.
constexpr int PLACE_X_MAX = 580;
constexpr int PLACE_Y_MAX = 360;

// A missile never comes down below y 388.
constexpr int SHOT_Y_MAX = 388;

// The panel background fills the client area below the map.
constexpr int PANEL_Y = MAP_HEIGHT;

// The close-up of the selected unit on the panel.
constexpr int CLOSEUP_X = 5;
constexpr int CLOSEUP_Y = 405;
constexpr int CLOSEUP_WIDTH = 100;
constexpr int CLOSEUP_HEIGHT = 50;

// The bitmap font: 7 x 16 glyphs side by side.
constexpr int GLYPH_WIDTH = 7;
constexpr int GLYPH_HEIGHT = 16;

// The Abort button on the panel; its edges do not count.
constexpr bool in_abort_button(int x, int y) { return x > 260 && x < 340 && y > 405 && y < 455; }
