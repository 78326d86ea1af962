// Text in the bitmap font, and the sounds.
#include "main/main.h"
#include "model/globals.h"
#include "model/layout.h"
#include "platform/resources.h"
#include "platform/sound.h"

namespace {

// The font's glyphs: blank, ".", the digits, the letters (both cases alike), then the pound and the
// dollar sign, which unit names do not use. Anything else draws the blank.
int glyph_of(char ch, bool signs) {
    auto c = static_cast<signed char>(ch);
    if (c == '.') return 1;
    if (signs && c == static_cast<signed char>(0xA3)) return 38;
    if (signs && c == '$') return 39;
    if (c >= '0' && c <= '9') return c - 46;
    if (c >= 'A' && c <= 'Z') return c - 53;
    if (c >= 'a' && c <= 'z') return c - 85;
    return 0;
}

}  // namespace

void blitglyph(uint16_t x, uint16_t y, char c, plat::Rop rop, bool signs) {
    plat::select_bitmap(MapDC, hFontgfx);
    plat::blit(WinDC, x, y, GLYPH_WIDTH, GLYPH_HEIGHT, MapDC, GLYPH_WIDTH * glyph_of(c, signs), 0, rop);
}

// The font keeps its 40 cells and has none for a dash: the blank gets a row of another glyph, the
// top serif of I, a clean 3-pixel bar, at mid-height. The artwork check keeps that row a bar.
void blitdash(uint16_t x, uint16_t y) {
    constexpr int kFromGlyph = 'I' - 53, kFromRow = 3, kRow = 8;
    blitglyph(x, y, ' ', plat::SRCCOPY);  // selects the font into MapDC
    plat::blit(WinDC, x, static_cast<uint16_t>(y + kRow), GLYPH_WIDTH, 1, MapDC, GLYPH_WIDTH * kFromGlyph, kFromRow,
               plat::SRCCOPY);
}

void blittext(uint16_t x, uint16_t y, const char* str, uint8_t len) {
    for (int i = 0; i < len; i++) blitglyph(static_cast<uint16_t>(x + GLYPH_WIDTH * i), y, str[i], plat::SRCCOPY);
}

void PlayResource(const char* lpName) {
    const plat::Resource* res = plat::find_resource("WAVE", lpName);
    if (res && res->data) plat::sound_play(res->name, res->data, res->size);
}
