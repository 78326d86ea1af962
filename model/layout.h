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

// A control's rectangle, its edges x0, x1, y0 and y1 included.
struct Rect {
    int x0, y0, x1, y1;
    constexpr bool contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
    constexpr int width() const { return x1 - x0 + 1; }
    constexpr int height() const { return y1 - y0 + 1; }
};

// The panel's controls, as drawing and clicks both have them. The two arrows of a pair share their
// middle column: a click there turns both, which cancel out.
constexpr Rect DIAL{365, 405, 415, 455};
constexpr int DIAL_CENTRE_X = 390, DIAL_CENTRE_Y = 430;
constexpr Rect BEARING_DOWN{420, 430, 445, 455};
constexpr Rect BEARING_UP{445, 430, 470, 455};
constexpr Rect POWER_DOWN{475, 430, 500, 455};
constexpr Rect POWER_UP{500, 430, 525, 455};
constexpr Rect POWER_GAUGE{530, 405, 550, 455};
constexpr Rect FIRE_BUTTON{555, 405, 595, 455};
// The Abort button; its outer edges (260 and 340, 405 and 455) do not count.
constexpr Rect ABORT_BUTTON{261, 406, 339, 454};
constexpr bool in_abort_button(int x, int y) { return ABORT_BUTTON.contains(x, y); }
// The panel's side box, in the colour of the side to play.
constexpr Rect SIDE_BOX{175, 430, 234, 454};

// The title screen's controls. The arrow buttons, in the order clicks are tested: map, cities,
// submarines, silos, skill, each down then up. Each is drawn 25 x 25 from its top-left, those at x 420
// 16 wide; a click answers within the rectangle, whose bottom row is the 26th.
constexpr Rect TITLE_ARROWS[10] = {
    {155, 195, 180, 220}, {420, 195, 435, 220},  // map
    {155, 240, 180, 265}, {265, 240, 290, 265},  // cities
    {155, 285, 180, 310}, {265, 285, 290, 310},  // submarines
    {310, 240, 335, 265}, {420, 240, 435, 265},  // silos
    {310, 285, 335, 310}, {420, 285, 435, 310},  // skill
};
// The player boxes: 25 x 25, one every 30 pixels. A click picks the box (x - 155) / 30, within the two
// halves of the row but not in the gap between them.
constexpr int PLAYER_BOX_X = 155, PLAYER_BOX_Y = 330, PLAYER_BOX_SIZE = 25, PLAYER_BOX_PITCH = 30;
constexpr Rect PLAYER_BOXES_LEFT{155, 330, 210, 355};
constexpr Rect PLAYER_BOXES_RIGHT{215, 330, 270, 355};
constexpr Rect player_box(int k) {
    return {PLAYER_BOX_X + PLAYER_BOX_PITCH * k, PLAYER_BOX_Y, PLAYER_BOX_X + PLAYER_BOX_PITCH * k + PLAYER_BOX_SIZE - 1,
            PLAYER_BOX_Y + PLAYER_BOX_SIZE - 1};
}
constexpr Rect START_BUTTON{310, 330, 445, 355};
