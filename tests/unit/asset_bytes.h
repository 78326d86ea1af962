// Readers of the embedded BMP and WAV bytes for the tests, written apart from the game's own
// loader so that a test can tell a wrong file from a wrong reading of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantor_test {

inline uint32_t le16(const unsigned char* p) { return p[0] | static_cast<uint32_t>(p[1]) << 8; }
inline uint32_t le32(const unsigned char* p) { return le16(p) | le16(p + 2) << 16; }

// An uncompressed BMP with a 40-byte header, as the artwork must be.
struct RawBmp {
    uint32_t file_size = 0;   // the header's own idea of it
    uint32_t header_size = 0;
    int32_t width = 0;
    int32_t height = 0;       // as written: negative for a top-down file
    uint32_t planes = 0;
    uint32_t bit_count = 0;
    uint32_t compression = 0;
    uint32_t colours_used = 0;
    std::vector<uint32_t> palette;  // 0x00BBGGRR
    std::vector<uint8_t> indices;   // 8-bit files: palette index per pixel, rows top-down
    std::vector<uint32_t> pixels;   // every file: 0x00BBGGRR per pixel, rows top-down
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Parses the header and, for 8- and 24-bit uncompressed files, the pixels. nullopt with *why when
// the bytes are not such a file.
inline std::optional<RawBmp> parse_bmp(const unsigned char* d, size_t size, std::string* why) {
    auto fail = [&](const char* reason) {
        *why = reason;
        return std::nullopt;
    };
    if (size < 54 || d[0] != 'B' || d[1] != 'M') return fail("no BMP file header");
    RawBmp b;
    b.file_size = le32(d + 2);
    uint32_t offset = le32(d + 10);
    b.header_size = le32(d + 14);
    b.width = static_cast<int32_t>(le32(d + 18));
    b.height = static_cast<int32_t>(le32(d + 22));
    b.planes = le16(d + 26);
    b.bit_count = le16(d + 28);
    b.compression = le32(d + 30);
    b.colours_used = le32(d + 46);
    if (b.header_size != 40) return fail("not a 40-byte info header");
    if (b.compression != 0) return fail("compressed");
    if (b.bit_count != 8 && b.bit_count != 24) return fail("neither 8 nor 24 bits");
    if (b.width <= 0 || b.height == 0) return fail("empty");
    int rows = b.height < 0 ? -b.height : b.height;
    if (b.bit_count == 8) {
        uint32_t entries = b.colours_used ? b.colours_used : 256;
        if (entries > 256 || 54 + 4 * static_cast<size_t>(entries) > size) return fail("palette cut short");
        for (uint32_t i = 0; i < entries; i++) {
            const unsigned char* e = d + 54 + 4 * i;
            b.palette.push_back(e[0] << 16 | e[1] << 8 | e[2]);
        }
    }
    size_t stride = (static_cast<size_t>(b.width) * b.bit_count / 8 + 3) / 4 * 4;
    if (offset + stride * rows > size) return fail("pixels cut short");
    b.pixels.resize(static_cast<size_t>(b.width) * rows);
    if (b.bit_count == 8) b.indices.resize(b.pixels.size());
    for (int y = 0; y < rows; y++) {
        // Bottom-up unless the height is negative.
        const unsigned char* row = d + offset + stride * (b.height > 0 ? rows - 1 - y : y);
        for (int x = 0; x < b.width; x++) {
            size_t i = static_cast<size_t>(y) * b.width + x;
            if (b.bit_count == 8) {
                if (row[x] >= b.palette.size()) return fail("index past the palette");
                b.indices[i] = row[x];
                b.pixels[i] = b.palette[row[x]];
            } else {
                const unsigned char* p = row + 3 * x;
                b.pixels[i] = p[0] << 16 | p[1] << 8 | p[2];
            }
        }
    }
    return b;
}

// The format chunk and the sample bytes of a RIFF WAVE file.
struct RawWav {
    uint32_t riff_size = 0;
    uint32_t format = 0, channels = 0, rate = 0, byte_rate = 0, block_align = 0, bits = 0;
    size_t data_size = 0;
};

inline std::optional<RawWav> parse_wav(const unsigned char* d, size_t size, std::string* why) {
    auto fail = [&](const char* reason) {
        *why = reason;
        return std::nullopt;
    };
    if (size < 12 || std::string(reinterpret_cast<const char*>(d), 4) != "RIFF" ||
        std::string(reinterpret_cast<const char*>(d + 8), 4) != "WAVE")
        return fail("no RIFF WAVE header");
    RawWav w;
    w.riff_size = le32(d + 4);
    bool have_fmt = false, have_data = false;
    for (size_t pos = 12; pos + 8 <= size;) {
        std::string id(reinterpret_cast<const char*>(d + pos), 4);
        size_t len = le32(d + pos + 4);
        if (pos + 8 + len > size) return fail("chunk cut short");
        const unsigned char* c = d + pos + 8;
        if (id == "fmt ") {
            if (len < 16) return fail("short format chunk");
            w.format = le16(c);
            w.channels = le16(c + 2);
            w.rate = le32(c + 4);
            w.byte_rate = le32(c + 8);
            w.block_align = le16(c + 12);
            w.bits = le16(c + 14);
            have_fmt = true;
        } else if (id == "data") {
            w.data_size = len;
            have_data = true;
        }
        pos += 8 + len + (len & 1);
    }
    if (!have_fmt || !have_data) return fail("format or data chunk missing");
    return w;
}

}  // namespace vantor_test
