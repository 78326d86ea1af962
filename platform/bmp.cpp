// BMP decoding and writing through SDL's loader, converted to and from our 0x00BBGGRR bitmaps.
#include "platform/bmp.h"

#include <SDL.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace plat {

namespace {

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

constexpr int64_t kMaxPixels = 16384LL * 16384LL;

int32_t read_le32(const unsigned char* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// Refuses headers that claim absurd sizes before SDL tries to allocate them.
bool plausible_header(const unsigned char* data, size_t size, std::string* error) {
    if (size < 26 || data[0] != 'B' || data[1] != 'M') {
        if (error) *error = "not a BMP file";
        return false;
    }
    int32_t header = read_le32(data + 14);
    int64_t width = 0, height = 0;
    if (header == 12) {
        width = static_cast<int16_t>(data[18] | data[19] << 8);
        height = static_cast<int16_t>(data[20] | data[21] << 8);
    } else {
        width = read_le32(data + 18);
        height = read_le32(data + 22);
    }
    if (height < 0) height = -height;
    if (width <= 0 || height <= 0 || width * height > kMaxPixels) {
        if (error) *error = "bad BMP size";
        return false;
    }
    return true;
}

Bitmap* from_sdl(SDL_Surface* loaded, std::string* error) {
    SurfacePtr converted(SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_XBGR8888, 0));
    if (!converted) {
        if (error) *error = SDL_GetError();
        return nullptr;
    }
    Bitmap* bitmap = create_bitmap(converted->w, converted->h);
    if (!bitmap) {
        if (error) *error = "bad BMP size";
        return nullptr;
    }
    for (int y = 0; y < converted->h; y++) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const unsigned char*>(converted->pixels) +
                                                            static_cast<size_t>(y) * converted->pitch);
        for (int x = 0; x < converted->w; x++) bitmap->pixels[static_cast<size_t>(y) * bitmap->width + x] = row[x] & 0xFFFFFFu;
    }
    return bitmap;
}

}  // namespace

Bitmap* decode_bmp(const void* data, size_t size, std::string* error) {
    if (!data || !plausible_header(static_cast<const unsigned char*>(data), size, error)) return nullptr;
    if (size > INT32_MAX) {
        if (error) *error = "BMP file too large";
        return nullptr;
    }
    SDL_RWops* rw = SDL_RWFromConstMem(data, static_cast<int>(size));
    if (!rw) {
        if (error) *error = SDL_GetError();
        return nullptr;
    }
    SurfacePtr loaded(SDL_LoadBMP_RW(rw, 1));
    if (!loaded) {
        if (error) *error = SDL_GetError();
        return nullptr;
    }
    return from_sdl(loaded.get(), error);
}

Bitmap* load_bmp_file(const char* path, std::string* error) {
    SDL_RWops* rw = SDL_RWFromFile(path, "rb");
    if (!rw) {
        if (error) *error = "cannot be opened";
        return nullptr;
    }
    Sint64 size = SDL_RWsize(rw);
    if (size < 0 || size > 256LL * 1024 * 1024) {
        SDL_RWclose(rw);
        if (error) *error = size < 0 ? "cannot be read" : "file too large";
        return nullptr;
    }
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[static_cast<size_t>(size) + 1]);
    size_t got = SDL_RWread(rw, buffer.get(), 1, static_cast<size_t>(size));
    SDL_RWclose(rw);
    if (got != static_cast<size_t>(size)) {
        if (error) *error = "cannot be read";
        return nullptr;
    }
    return decode_bmp(buffer.get(), got, error);
}

bool save_bmp_file(const Bitmap* bitmap, const char* path) {
    if (!bitmap) return false;
    SurfacePtr out(SDL_CreateRGBSurfaceWithFormat(0, bitmap->width, bitmap->height, 24, SDL_PIXELFORMAT_BGR24));
    if (!out) return false;
    for (int y = 0; y < bitmap->height; y++) {
        auto* row = static_cast<unsigned char*>(out->pixels) + static_cast<size_t>(y) * out->pitch;
        for (int x = 0; x < bitmap->width; x++) {
            Colour c = bitmap->pixels[static_cast<size_t>(y) * bitmap->width + x];
            row[3 * x + 0] = static_cast<unsigned char>(c >> 16);  // blue
            row[3 * x + 1] = static_cast<unsigned char>(c >> 8);   // green
            row[3 * x + 2] = static_cast<unsigned char>(c);        // red
        }
    }
    return SDL_SaveBMP(out.get(), path) == 0;
}

}  // namespace plat
