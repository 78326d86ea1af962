// The state hash and the snapshot: one walk over the game's globals, field by field in a fixed order
// and little-endian, feeds both, so that padding and the build never change a hash.
#include "replay/state.h"

#include <xxhash.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string_view>
#include <type_traits>

#include "replay/hash.h"

#include "init/init.h"
#include "main/main.h"
#include "model/globals.h"
#include "model/layout.h"
#include "platform/bytes.h"

namespace replay {

namespace {

// Version 2 writes a row that is its base's, whole, as its base's number alone, with kWholeRow set;
// version 1, which is still read, wrote every row's bytes.
constexpr uint32_t kVersion = 2;
constexpr uint32_t kOldestVersion = 1;
constexpr uint8_t kWholeRow = 0x80;
// A snapshot inflates to a few megabytes at most; anything claiming more is not one.
constexpr uint32_t kMaxRaw = 16u * 1024 * 1024;

// Left out: the timer's period and what an online window shows of its own room and side, which are
// the front end's own. Fast play goes into a snapshot, so that a
// replay keeps its pace, but not into the hash, being only the pace. Nor does the title's list of maps
// to choose from, the largest global, which the rules read only at the Start press: the hash has the
// chosen map's name and pictures.
constexpr bool left_out(std::string_view name, bool hashing) {
    return name == "tick_ms" || name == "online_label" || name == "online_side" || name == "online_note" ||
           name == "invite_link" || name == "replay_label" ||
           (hashing && (name == "fastplay" || name == "filelist" || name == "map_builtin"));
}

template <typename T>
constexpr bool is_handle() {
    using E = std::remove_all_extents_t<T>;
    return std::is_pointer_v<E>;
}

// What the state hash is made of: a piece for each global it takes, one for the surfaces' bitmaps and
// one for each of the three pictures.
constexpr size_t kStatePieces = 4
#define VANTOR_GLOBAL(type, name, dims, start, key, limit) +(is_handle<decltype(name)>() || left_out(#name, true) ? 0 : 1)
#include "model/globals_list.h"
#undef VANTOR_GLOBAL
    ;

using Writer = plat::ByteWriter;
using Reader = plat::ByteReader;

template <typename A, typename T>
void io(A& a, T& v);

template <typename A>
void io_record(A& a, weapon& w) {
    io(a, w.flag), io(a, w.side), io(a, w.x), io(a, w.y), io(a, w.name), io(a, w.old_power);
    io(a, w.old_bearing), io(a, w.ammo), io(a, w.fact1), io(a, w.fact2), io(a, w.supplied), io(a, w.greynow);
}

template <typename A>
void io_record(A& a, icbm& s) {
    io(a, s.flag);
    s.track.fields([&](auto& field) { io(a, field); });
    io(a, s.xdest), io(a, s.ydest), io(a, s.size), io(a, s.xco), io(a, s.yco), io(a, s.col);
}

template <typename A>
void io_record(A& a, filename& f) {
    io(a, f.letter);
}

template <typename A, typename T>
void io(A& a, T& v) {
    if constexpr (std::is_same_v<T, bool>) {
        a.field(v);
    } else if constexpr (std::is_arithmetic_v<T>) {
        a.field(v);
    } else if constexpr (std::is_array_v<T>) {
        using E = std::remove_extent_t<T>;
        // Arrays of plain bytes go in one piece; a bool is checked one by one on the way back.
        if constexpr (std::is_arithmetic_v<E> && !std::is_same_v<E, bool> && sizeof(E) == 1) {
            a.field_bytes(v, sizeof v);
        } else {
            for (auto& e : v) io(a, e);
        }
    } else {
        io_record(a, v);
    }
}

// Every global of the game's state, in the order of the list.
template <bool hashing, typename A>
void io_globals(A& a) {
#define VANTOR_GLOBAL(type, name, dims, start, key, limit) \
    if constexpr (!is_handle<decltype(name)>() && !left_out(#name, hashing)) io(a, name);
#include "model/globals_list.h"
#undef VANTOR_GLOBAL
}

// The bitmaps a surface may hold, by number; 255 is one of none of these, 254 no surface at all.
enum : uint8_t { kNone = 0, kOther = 255, kNoSurface = 254 };

constexpr uint8_t kKnownBitmaps = 8;

// The bitmap of that number in this thread's globals.
plat::Bitmap* known(uint8_t i) {
    plat::Bitmap* const bitmaps[kKnownBitmaps] = {nullptr,   hMainmap,    hTacticalmap, hFullimage,
                                                  hPanelgfx, hPanelimage, hFontgfx,     hTitlegfx};
    return i < kKnownBitmaps ? bitmaps[i] : nullptr;
}

uint8_t selection(const plat::Surface* surface) {
    if (!surface) return kNoSurface;
    if (!surface->bitmap) return kNone;
    for (uint8_t i = 1; i < kKnownBitmaps; i++)
        if (surface->bitmap == known(i)) return i;
    return kOther;
}

uint64_t hash_bytes(const void* p, size_t n, uint64_t seed_value = 0) { return hash64(p, n, seed_value); }

// A picture's hash from the hashes of its rows, of which only the rows drawn since are read again.
// The last entry of row_hashes keeps the picture's hash while no row changes.
uint64_t rows_hash(plat::Bitmap* b) {
    auto rows = static_cast<size_t>(b->height);
    if (b->rows_changed.size() != rows) {
        b->rows_changed.assign(rows, 1);
        b->row_hashes.assign(rows + 1, 0);
    }
    const uint8_t* changed = b->rows_changed.data();
    if (std::memchr(changed, 1, rows) == nullptr) return b->row_hashes[rows];
    auto width = static_cast<size_t>(b->width);
    std::vector<plat::Colour> scratch(b->base ? width : 0);
    for (size_t y = 0; y < rows; y++) {
        if (!changed[y]) continue;
        const plat::Colour* row = plat::read_row(b, static_cast<int>(y), scratch.data());
        b->row_hashes[y] = hash_bytes(row, width * sizeof(plat::Colour));
        b->rows_changed[y] = 0;
    }
    return b->row_hashes[rows] = hash_bytes(b->row_hashes.data(), rows * sizeof(uint64_t), (static_cast<uint64_t>(width) << 32) | rows);
}

uint64_t picture_hash(plat::Bitmap* b) {
    if (!b) return 0;
    if (!b->shared) return rows_hash(b);
    // A shared picture never changes, but games on other threads keep its row hashes too: the first
    // hashes it, under a lock, and the rest read what it kept.
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    return rows_hash(b);
}

// Where the window's picture and the map pictures may be copied from, as bases for a picture's rows.
enum Base : uint8_t { kZero, kFileMain, kFileTac, kMainmap, kFullimage, kTitle, kPanel, kBases };

struct Placed {
    const plat::Bitmap* bitmap = nullptr;
    int dy = 0;
};

struct Bases {
    Placed at[kBases];
};

// Row y of target as a base places it, gathered into scratch (width pixels) if need be; null where the
// base has no such row.
const plat::Colour* base_row(const Placed& p, int y, int width, plat::Colour* scratch) {
    if (!p.bitmap || p.bitmap->width != width) return nullptr;
    int row = y - p.dy;
    if (row < 0 || row >= p.bitmap->height) return nullptr;
    return plat::read_row(p.bitmap, row, scratch);
}

// A picture as rows, each the exclusive-or with the row of whichever candidate base is nearest, three
// bytes a pixel; a row as its base has it is the base's number alone. Most rows of a game's pictures
// are their bases' as they stand, and a megabyte of zeros would cost the compressor milliseconds.
void write_picture(Writer& w, const plat::Bitmap* b, const Bases& bases, std::initializer_list<Base> candidates) {
    uint8_t present = b ? 1 : 0;
    w.put(present);
    if (!b) return;
    auto width = static_cast<uint16_t>(b->width);
    auto height = static_cast<uint16_t>(b->height);
    w.put(width), w.put(height);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    // Rows of layered pictures are gathered, each candidate's into a scratch row of its own.
    std::vector<plat::Colour> scratch(static_cast<size_t>(width) * (kBases + 1));
    auto scratch_of = [&](size_t i) { return scratch.data() + i * width; };
    for (int y = 0; y < height; y++) {
        const plat::Colour* pixels = plat::read_row(b, y, scratch_of(kBases));
        Base best = kZero;
        const plat::Colour* best_row = nullptr;
        int best_same = -1;
        for (Base c : candidates) {
            const plat::Colour* r = base_row(bases.at[c], y, width, scratch_of(c));
            if (!r) continue;
            int same = 0;
            for (int x = 0; x < width; x++) same += pixels[x] == r[x];
            if (same > best_same) best = c, best_row = r, best_same = same;
            if (same == width) break;
        }
        if (best_same == width) {
            w.put(static_cast<uint8_t>(best | kWholeRow));
            continue;
        }
        for (int x = 0; x < width; x++) {
            plat::Colour c = pixels[x] ^ (best_row ? best_row[x] : 0);
            row[3 * x] = static_cast<uint8_t>(c), row[3 * x + 1] = static_cast<uint8_t>(c >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(c >> 16);
        }
        w.put(static_cast<uint8_t>(best));
        w.put_bytes(row.data(), row.size());
    }
}

struct BitmapDeleter {
    void operator()(plat::Bitmap* b) const { plat::delete_bitmap(b); }
};
using Owned = std::unique_ptr<plat::Bitmap, BitmapDeleter>;

// The picture back from its rows; null with *present false when there was none. False when malformed.
bool read_picture(Reader& r, const Bases& bases, Owned* out, int want_width, int want_height, uint32_t version) {
    uint8_t present = 0;
    present = r.get<uint8_t>();
    if (!r.ok() || present > 1) return false;
    if (!present) return true;
    uint16_t width = 0, height = 0;
    width = r.get<uint16_t>(), height = r.get<uint16_t>();
    if (!r.ok() || width != want_width || height != want_height) return false;
    Owned b(plat::create_bitmap(width, height));
    if (!b) return false;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    std::vector<plat::Colour> scratch(width);
    for (int y = 0; y < height; y++) {
        uint8_t base = 0;
        base = r.get<uint8_t>();
        bool whole = version >= 2 && (base & kWholeRow);
        if (whole) base &= static_cast<uint8_t>(~kWholeRow);
        else r.take(row.data(), row.size());
        if (!r.ok() || base >= kBases) return false;
        const plat::Colour* from = base == kZero ? nullptr : base_row(bases.at[base], y, width, scratch.data());
        if (base != kZero && !from) return false;
        plat::Colour* pixels = b->pixels.data() + static_cast<size_t>(y) * width;
        if (whole) {
            if (from) std::copy(from, from + width, pixels);
            else std::fill(pixels, pixels + width, 0u);
            continue;
        }
        for (int x = 0; x < width; x++) {
            plat::Colour c = row[3 * x] | row[3 * x + 1] << 8 | static_cast<plat::Colour>(row[3 * x + 2]) << 16;
            pixels[x] = c ^ (from ? from[x] : 0);
        }
    }
    *out = std::move(b);
    return true;
}

std::vector<uint8_t> globals_bytes() {
    Writer w;
    w.reserve(32 * 1024);
    io_globals<false>(w);
    return w.take();
}

void put_globals(const std::vector<uint8_t>& bytes) {
    Reader back(bytes.data(), bytes.size());
    io_globals<false>(back);
}

// The globals the game takes as indexes, loop bounds, colours to search for and text, within what the
// game itself gives them: a snapshot need not be one the game took, and no replay may make the game
// read or write outside its tables or search for ever.
bool sensible() {
    auto text = [](const char* s, size_t n) { return std::memchr(s, 0, n) != nullptr; };
    // The four territory colours, each once: placement searches the territories for a side's colours.
    auto territories = [](const uint32_t (&c)[NUM_SIDES]) {
        for (uint32_t colour : {RED, BLUE, YELLOW, GREEN})
            if (std::count(std::begin(c), std::end(c), colour) != 1) return false;
        return true;
    };
    // A game on a map is being placed, played or is over; on the other screens there is none.
    bool on_map = loaded_map.letter[0] != 0;
    bool in_game = timer_mode == MODE_PLACING || timer_mode == MODE_PLAYING || timer_mode == MODE_GAMEOVER;
    if (timer_mode > MODE_INTRO || on_map != in_game || cur_player >= NUM_SIDES || cur_unit >= NUM_UNITS ||
        cpu_unit >= NUM_UNITS || num_players < 2 || num_players > NUM_SIDES || num_maps > MAX_MAPS ||
        cur_map >= MAX_MAPS || cpu_bearing > 359 || cpu_power > MAX_POWER || !territories(sidecols) ||
        (on_map && !territories(startcols)))
        return false;
    bool texts = text(title_message, sizeof title_message) && text(title_news, sizeof title_news) &&
                 text(caption_news, sizeof caption_news) && text(loaded_map.letter, sizeof loaded_map.letter);
    for (const filename& f : filelist) texts = texts && text(f.letter, sizeof f.letter);
    for (const weapon& w : item) texts = texts && text(w.name, sizeof w.name);
    return texts;
}

bool refuse(std::string* why, const std::string& reason) {
    if (why) *why = reason;
    return false;
}

// A snapshot's header; the body after it is packed with zlib.
struct Header {
    char magic[4] = {'V', 'T', 'S', 'N'};
    uint32_t version = kVersion;
    uint32_t raw_size = 0;  // the body unpacked, at most kMaxRaw
    static constexpr size_t kSize = sizeof magic + sizeof version + sizeof raw_size;

    std::vector<uint8_t> write() const {
        Writer w;
        w.put_bytes(magic, sizeof magic);
        w.put(version), w.put(raw_size);
        return w.take();
    }
    bool read(Reader& r) {
        r.take(magic, sizeof magic);
        version = r.get<uint32_t>(), raw_size = r.get<uint32_t>();
        return r.ok() && std::memcmp(magic, Header{}.magic, sizeof magic) == 0;
    }
};

// The body of a snapshot, unpacked.
bool unpack(const uint8_t* data, size_t size, std::vector<uint8_t>* raw, uint32_t* version, std::string* why) {
    Header header;
    Reader r(data, size);
    if (!header.read(r)) return refuse(why, "not a snapshot");
    if (header.version < kOldestVersion || header.version > kVersion)
        return refuse(why, "a snapshot of version " + std::to_string(header.version) + ", not " +
                               std::to_string(kOldestVersion) + " to " + std::to_string(kVersion));
    *version = header.version;
    if (header.raw_size > kMaxRaw) return refuse(why, "a damaged snapshot");
    raw->resize(header.raw_size);
    uLongf got = header.raw_size;
    const uint8_t* packed = data + Header::kSize;
    if (uncompress(raw->data(), &got, packed, static_cast<uLong>(size - Header::kSize)) != Z_OK ||
        got != header.raw_size)
        return refuse(why, "a damaged snapshot");
    return true;
}

// What a snapshot holds besides the globals, read before anything else of the game changes.
struct Parsed {
    uint8_t held[3] = {};  // what MapDC, TactDC and FullDC held, by known()'s numbers
    uint64_t map = 0;      // map_hash of the pair the game is played on
    Owned mainmap, tacmap;  // that pair as its files give it
    Owned shown, territory, full, window;
};

// The map pair the restored globals name, read again from its files.
bool read_map(Parsed* p, std::string* why) {
    if (!loaded_map.letter[0]) return true;
    plat::Bitmap* m = nullptr;
    plat::Bitmap* t = nullptr;
    std::string reason;
    std::string name(loaded_map.letter, strnlen(loaded_map.letter, sizeof loaded_map.letter));
    if (!readmappair(name.c_str(), loaded_builtin, &m, &t, &reason))
        return refuse(why, "the map " + name + " cannot be read: " + reason);
    p->mainmap.reset(m), p->tacmap.reset(t);
    if (map_hash(m, t) != p->map) return refuse(why, "the map " + name + " is not the one this game was played on");
    return true;
}

// Puts the globals into the thread's and reads the rest; the thread's pictures are left alone.
bool parse(const std::vector<uint8_t>& raw, uint32_t version, Parsed* p, std::string* why) {
    Reader r(raw.data(), raw.size());
    io_globals<false>(r);
    r.take(p->held, sizeof p->held);
    p->map = r.get<uint64_t>();
    if (!r.ok() || !sensible()) return refuse(why, "a damaged snapshot");
    if (!read_map(p, why)) return false;

    Bases bases;
    bases.at[kFileMain] = {p->mainmap.get(), 0};
    bases.at[kFileTac] = {p->tacmap.get(), 0};
    bool ok = read_picture(r, bases, &p->shown, MAP_WIDTH, MAP_HEIGHT, version) &&
              read_picture(r, bases, &p->territory, MAP_WIDTH, MAP_HEIGHT, version);
    bases.at[kMainmap] = {p->shown.get(), 0};
    ok = ok && read_picture(r, bases, &p->full, MAP_WIDTH, MAP_HEIGHT, version);
    bases.at[kFullimage] = {p->full.get(), 0};
    bases.at[kTitle] = {hTitlegfx, 0};
    bases.at[kPanel] = {hPanelimage, PANEL_Y};
    plat::Bitmap* client = WinDC ? WinDC->bitmap : nullptr;
    // A window without a picture takes the snapshot's as a server's room draws it, and leaves it.
    int window_width = client ? client->width : WinDC ? CLIENT_WIDTH : 0;
    int window_height = client ? client->height : WinDC ? CLIENT_HEIGHT : 0;
    ok = ok && read_picture(r, bases, &p->window, window_width, window_height, version);
    if (!ok || !r.done()) return refuse(why, "a damaged snapshot");
    return true;
}

// A game on a map has its three pictures and the surface of the map with its icons, as startgame
// makes them; a game on none has none of them. The map's own two pictures are its files' (the game
// never draws on them, and the next snapshot takes them for the files').
bool validate(Parsed* p, std::string* why) {
    bool on_map = loaded_map.letter[0] != 0;
    if (!p->shown != !on_map || !p->territory != !on_map || !p->full != !on_map ||
        (p->held[2] != kNoSurface) != on_map || (on_map && map_hash(p->shown.get(), p->territory.get()) != p->map))
        return refuse(why, "a damaged snapshot");
    // A surface that held a bitmap of none of the kinds known (a scratch copy) is restored empty.
    for (uint8_t& h : p->held)
        if (h == kOther) h = kNone;
    for (uint8_t h : p->held)
        if (h != kNoSurface && h >= kKnownBitmaps) return refuse(why, "a damaged snapshot");
    return true;
}

// Everything is read: the game's own pictures give way to the snapshot's.
void commit(Parsed& p) {
    plat::select_bitmap(MapDC, nullptr);
    plat::select_bitmap(TactDC, nullptr);
    plat::delete_bitmap(hMainmap);
    plat::delete_bitmap(hTacticalmap);
    plat::delete_surface(FullDC);
    plat::delete_bitmap(hFullimage);
    hMainmap = p.shown.release();
    hTacticalmap = p.territory.release();
    hFullimage = p.full.release();
    FullDC = p.held[2] == kNoSurface ? nullptr : plat::create_surface();
    plat::Surface* surfaces[] = {MapDC, TactDC, FullDC};
    for (int i = 0; i < 3; i++)
        if (p.held[i] != kNoSurface && p.held[i] != kNone) plat::select_bitmap(surfaces[i], known(p.held[i]));
    plat::Bitmap* client = WinDC ? WinDC->bitmap : nullptr;
    if (client && p.window) {
        client->pixels = p.window->pixels;
        plat::mark_dirty(client, 0, 0, client->width, client->height);
    }
    pacetimer();
}

}  // namespace

uint64_t state_hash_pieces(std::vector<uint64_t>* pieces) {
    // Small globals are gathered as their bytes, large ones hashed where they lie and their hashes
    // gathered; then one hash of all that, the surfaces' bitmaps and the pictures.
    constexpr size_t kSmall = 64;
    constexpr size_t kGathered = 0
#define VANTOR_GLOBAL(type, name, dims, start, key, limit) \
    + (is_handle<decltype(name)>() || left_out(#name, true) ? 0 : sizeof name <= kSmall ? sizeof name : 8)
#include "model/globals_list.h"
#undef VANTOR_GLOBAL
        ;
    uint8_t gathered[kGathered + 3 + 3 * 8];
    size_t n = 0;
    // Where each piece ends in what is gathered, when the pieces are wanted too.
    size_t ends[kStatePieces];
    size_t piece = 0;
    auto add = [&](const void* p, size_t size) {
        std::memcpy(gathered + n, p, size);
        n += size;
        ends[piece++] = n;
    };
    auto gather = [&](const auto& global) {
        using T = std::remove_cvref_t<decltype(global)>;
        using E = std::remove_all_extents_t<T>;
        static_assert(std::has_unique_object_representations_v<E> || std::is_same_v<E, bool>,
                      "a global of the state must be all fields, no padding");
        if constexpr (std::is_same_v<T, icbm[NUM_SHOTS]>) {
            // A free missile slot is filled afresh at its next launch: only the slots in use count.
            thread_local icbm in_use[NUM_SHOTS];
            uint8_t flags[NUM_SHOTS];
            size_t used = 0;
            for (int i = 0; i < NUM_SHOTS; i++) {
                flags[i] = global[i].flag;
                if (flags[i]) std::memcpy(&in_use[used++], &global[i], sizeof(icbm));
            }
            uint64_t h = hash_bytes(in_use, used * sizeof(icbm), hash_bytes(flags, sizeof flags));
            add(&h, sizeof h);
        } else if constexpr (sizeof global <= kSmall) {
            add(&global, sizeof global);
        } else {
            uint64_t h = hash_bytes(&global, sizeof global);
            add(&h, sizeof h);
        }
    };
#define VANTOR_GLOBAL(type, name, dims, start, key, limit) \
    if constexpr (!is_handle<decltype(name)>() && !left_out(#name, true)) gather(name);
#include "model/globals_list.h"
#undef VANTOR_GLOBAL
    uint8_t held[] = {selection(MapDC), selection(TactDC), selection(FullDC)};
    add(held, sizeof held);
    for (plat::Bitmap* b : {hMainmap, hTacticalmap, hFullimage}) {
        uint64_t h = picture_hash(b);
        add(&h, sizeof h);
    }
    if (pieces) {
        pieces->resize(piece);
        for (size_t i = 0, from = 0; i < piece; from = ends[i++]) (*pieces)[i] = hash_bytes(gathered + from, ends[i] - from);
    }
    return hash_bytes(gathered, n);
}

uint64_t state_hash() { return state_hash_pieces(nullptr); }

const std::vector<std::string>& state_piece_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
#define VANTOR_GLOBAL(type, name, dims, start, key, limit) \
    if constexpr (!is_handle<decltype(name)>() && !left_out(#name, true)) all.emplace_back(#name);
#include "model/globals_list.h"
#undef VANTOR_GLOBAL
        for (const char* more : {"surfaces' bitmaps", "picture of the map", "picture of the territories",
                                 "picture of the map with its icons"})
            all.emplace_back(more);
        return all;
    }();
    return names;
}

uint64_t map_hash(const plat::Bitmap* mainmap, const plat::Bitmap* tacmap) {
    uint64_t h = 0;
    for (const plat::Bitmap* b : {mainmap, tacmap}) {
        if (!b) continue;
        uint64_t size = static_cast<uint64_t>(b->width) << 32 | static_cast<uint32_t>(b->height);
        h = hash_bytes(b->pixels.data(), b->pixels.size() * sizeof(plat::Colour), h ^ size);
    }
    return h;
}

std::vector<uint8_t> take_snapshot() {
    Writer w(globals_bytes());
    uint8_t held[] = {selection(MapDC), selection(TactDC), selection(FullDC)};
    w.put_bytes(held, sizeof held);
    w.put(map_hash(hMainmap, hTacticalmap));

    // The map pictures as their files give them, then the map with its icons over the clean map, then
    // the window over whichever of the pictures it shows.
    Bases bases;
    bases.at[kFileMain] = {hMainmap, 0};
    bases.at[kFileTac] = {hTacticalmap, 0};
    write_picture(w, hMainmap, bases, {kFileMain});
    write_picture(w, hTacticalmap, bases, {kFileTac});
    bases.at[kMainmap] = {hMainmap, 0};
    write_picture(w, hFullimage, bases, {kMainmap});
    bases.at[kFullimage] = {hFullimage, 0};
    bases.at[kTitle] = {hTitlegfx, 0};
    bases.at[kPanel] = {hPanelimage, PANEL_Y};
    // A window without a picture of its own (a server's room) is drawn for the snapshot as a paint
    // would draw it: a player's game takes the room's picture along with its game.
    const plat::Bitmap* window = WinDC ? WinDC->bitmap : nullptr;
    Owned drawn;
    if (WinDC && !window) {
        drawn.reset(plat::create_bitmap(CLIENT_WIDTH, CLIENT_HEIGHT));
        plat::select_bitmap(WinDC, drawn.get());
        paintwhole();
        plat::select_bitmap(WinDC, nullptr);
        window = drawn.get();
    }
    write_picture(w, window, bases, {kFullimage, kMainmap, kTitle, kPanel});

    const std::vector<uint8_t>& raw = w.bytes();
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    Header header;
    header.raw_size = static_cast<uint32_t>(raw.size());
    std::vector<uint8_t> out = header.write();
    out.resize(Header::kSize + packed_size);
    compress2(out.data() + Header::kSize, &packed_size, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_SPEED);
    out.resize(Header::kSize + packed_size);
    // What was set aside for the worst case is some megabytes: a room's recording keeps its snapshot
    // for the whole game.
    out.shrink_to_fit();
    return out;
}

bool restore_snapshot(const uint8_t* data, size_t size, std::string* why) {
    std::vector<uint8_t> raw;
    uint32_t version = 0;
    if (!unpack(data, size, &raw, &version, why)) return false;
    // The globals go in first, so that the map they name can be read; on any refusal they go back.
    std::vector<uint8_t> before = globals_bytes();
    Parsed parsed;
    std::string reason;
    if (!parse(raw, version, &parsed, &reason) || !validate(&parsed, &reason)) {
        put_globals(before);
        return refuse(why, reason);
    }
    commit(parsed);
    return true;
}

}  // namespace replay
