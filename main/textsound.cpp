// Text in the bitmap font, and the sounds.
#include "main/main.h"
#include "model/globals.h"
#include "platform/resources.h"
#include "platform/sound.h"

namespace {

constexpr int kGlyphWidth = 7;
constexpr int kGlyphHeight = 16;

int glyph_of(char ch) {
    auto c = static_cast<signed char>(ch);
    if (c == '.') return 1;
    if (c == static_cast<signed char>(0xA3)) return 38;
    if (c == '$') return 39;
    if (c >= '0' && c <= '9') return c - 46;
    if (c >= 'A' && c <= 'Z') return c - 53;
    if (c >= 'a' && c <= 'z') return c - 85;
    return 0;
}

}  // namespace

void blittext(uint16_t x, uint16_t y, const char* str, uint8_t len) {
    for (int i = 0; i < len; i++) {
        int g = glyph_of(str[i]);
        plat::select_bitmap(MapDC, hFontgfx);
        plat::blit(WinDC, x, y, kGlyphWidth, kGlyphHeight, MapDC, kGlyphWidth * g, 0, plat::SRCCOPY);
        x = static_cast<uint16_t>(x + kGlyphWidth);
    }
}

void PlayResource(const char* lpName) {
    const plat::Resource* res = plat::find_resource("WAVE", lpName);
    if (res && res->data) plat::sound_play(res->name, res->data, res->size);
}
