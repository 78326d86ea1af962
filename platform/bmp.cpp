// BMP decoding and writing through SDL's loader, converted to and from our 0x00BBGGRR bitmaps.
#include "platform/bmp.h"

#include <SDL.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/files.h"

namespace plat {

namespace {

struct SurfaceDeleter {
    void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// The game's largest picture is 600 x 460; anything far beyond that is refused before SDL allocates it.
constexpr int64_t kMaxSide = 16384;
constexpr int64_t kMaxPixels = 2048LL * 2048LL;
constexpr size_t kMaxFileSize = 64u * 1024 * 1024;

constexpr uint32_t kRGB = 0, kRLE8 = 1, kRLE4 = 2, kBitFields = 3;

uint32_t le16(const unsigned char* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
uint32_t le32(const unsigned char* p) { return le16(p) | le16(p + 2) << 16; }

bool fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
}

// Refuses what SDL's loader should not be asked to read: a header cut short, a size beyond any picture
// of the game, a depth or compression that does not go together, and uncompressed pixels that the data
// does not hold (SDL allocates the whole picture before it finds them missing).
bool plausible_header(const unsigned char* data, size_t size, std::string* error) {
    if (size < 2 || data[0] != 'B' || data[1] != 'M') return fail(error, "not a BMP file");
    if (size < 18) return fail(error, "BMP header cut short");
    uint64_t off_bits = le32(data + 10);
    uint64_t info = le32(data + 14);
    if (info != 12 && info != 40 && info != 52 && info != 56 && info != 64 && info != 108 && info != 124)
        return fail(error, "unknown BMP header");
    if (14 + info > size) return fail(error, "BMP header cut short");
    int64_t width = 0, height = 0;
    uint32_t bpp = 0, compression = kRGB;
    if (info == 12) {
        width = le16(data + 18);
        height = le16(data + 20);
        bpp = le16(data + 24);
    } else {
        width = static_cast<int32_t>(le32(data + 18));
        height = static_cast<int32_t>(le32(data + 22));
        bpp = le16(data + 28);
        compression = le32(data + 30);
    }
    if (height < 0) height = -height;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || width * height > kMaxPixels)
        return fail(error, "bad BMP size");
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return fail(error, "bad BMP depth");
    bool fits = compression == kRGB || (compression == kRLE8 && bpp == 8) || (compression == kRLE4 && bpp == 4) ||
                (compression == kBitFields && (bpp == 16 || bpp == 32));
    if (!fits) return fail(error, "unsupported BMP compression");
    if (off_bits < 14 + info || off_bits > size) return fail(error, "BMP pixels out of place");
    if (compression == kRGB || compression == kBitFields) {
        uint64_t row = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
        if (off_bits + row * static_cast<uint64_t>(height) > size) return fail(error, "BMP pixels cut short");
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
        Colour* out = bitmap->pixels.data() + static_cast<size_t>(y) * bitmap->width;
        for (int x = 0; x < converted->w; x++) out[x] = row[x] & 0xFFFFFFu;
    }
    return bitmap;
}

}  // namespace

Bitmap* decode_bmp(const void* data, size_t size, std::string* error) {
    if (!data) {
        if (error) *error = "no data";
        return nullptr;
    }
    if (!plausible_header(static_cast<const unsigned char*>(data), size, error)) return nullptr;
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
    std::vector<unsigned char> bytes;
    switch (read_file(path, kMaxFileSize, &bytes)) {
        case ReadStatus::Ok: return decode_bmp(bytes.data(), bytes.size(), error);
        case ReadStatus::Missing: fail(error, "no such file"); break;
        case ReadStatus::Directory: fail(error, "is a folder"); break;
        case ReadStatus::TooLarge: fail(error, "file too large"); break;
        case ReadStatus::Unreadable: fail(error, "cannot be read"); break;
    }
    return nullptr;
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
