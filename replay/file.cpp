// Replay files: encoding, decoding with every length and count checked, and the folder of replays.
#include "replay/file.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "replay/hash.h"

#include "platform/bytes.h"
#include "platform/files.h"

namespace replay {

namespace {

constexpr char kMagic[8] = {'V', 'A', 'N', 'T', 'O', 'R', 'R', 'P'};
// Bounds no real game comes near: a day of ticks, an input for every tick, a snapshot of a few MB.
constexpr uint32_t kMaxTicks = 24u * 60 * 60 * 10;
constexpr uint32_t kMaxInputs = kMaxTicks;
constexpr uint32_t kMaxSnapshot = 8u * 1024 * 1024;
constexpr size_t kMaxFile = 64u * 1024 * 1024;
constexpr size_t kMaxName = 49;

using plat::ByteReader;
using plat::ByteWriter;

bool refuse(std::string* why, std::string reason) {
    if (why) *why = std::move(reason);
    return false;
}

}  // namespace

std::vector<uint8_t> encode_replay(const Recording& game) {
    ByteWriter o(std::vector<uint8_t>(std::begin(kMagic), std::end(kMagic)));
    o.reserve(64 + game.start.size() + game.inputs.size() * (sizeof(uint32_t) + kInputBytes) +
              game.checkpoints.size() * sizeof(uint64_t));
    o.put(kReplayVersion);
    std::string name = game.map.substr(0, kMaxName);
    o.put(static_cast<uint8_t>(name.size()));
    o.put_bytes(name.data(), name.size());
    o.put(game.builtin);
    o.put(game.map_hash);
    o.put(game.players);
    o.put(game.computer);
    o.put(game.finished);
    o.put(game.ticks);
    o.put(static_cast<uint32_t>(game.start.size()));
    o.put_bytes(game.start.data(), game.start.size());
    o.put(static_cast<uint32_t>(game.inputs.size()));
    for (const GameInput& in : game.inputs) {
        o.put(in.tick);
        write_input(o, in);
    }
    o.put(static_cast<uint32_t>(game.checkpoints.size()));
    for (uint64_t h : game.checkpoints) o.put(h);
    o.put(game.final_hash);
    o.put(static_cast<uint64_t>(hash64(o.bytes().data(), o.bytes().size())));
    return o.take();
}

bool decode_replay(const uint8_t* data, size_t size, Recording* game, std::string* why) {
    if (size < sizeof kMagic || std::memcmp(data, kMagic, sizeof kMagic) != 0)
        return refuse(why, "it is not a Vantor replay");
    ByteReader in(data + sizeof kMagic, size - sizeof kMagic);
    auto version = in.get<uint32_t>();
    if (!in.ok()) return refuse(why, "it is cut short");
    if (version != kReplayVersion)
        return refuse(why, "it is a replay of version " + std::to_string(version) + "; this game plays version " +
                               std::to_string(kReplayVersion));
    // The checksum covers every byte before it: a damaged file is refused before its counts are believed.
    if (size < sizeof kMagic + 4 + 8) return refuse(why, "it is cut short");
    uint64_t sum = 0;
    std::memcpy(&sum, data + size - 8, 8);
    bool sound = hash64(data, size - 8) == sum;

    Recording g;
    auto name_size = in.get<uint8_t>();
    g.map.resize(name_size);
    in.take(g.map.data(), name_size);
    g.builtin = in.get<uint8_t>() != 0;
    g.map_hash = in.get<uint64_t>();
    g.players = in.get<uint8_t>();
    g.computer = in.get<uint8_t>();
    g.finished = in.get<uint8_t>() != 0;
    g.ticks = in.get<uint32_t>();
    auto snapshot_size = in.get<uint32_t>();
    if (in.ok() && (g.ticks > kMaxTicks || snapshot_size > kMaxSnapshot || name_size > kMaxName))
        return refuse(why, sound ? "it holds a game too long for this version" : "it is damaged");
    if (const uint8_t* start = in.span(snapshot_size)) g.start.assign(start, start + snapshot_size);
    auto inputs = in.get<uint32_t>();
    if (inputs > kMaxInputs || in.left() / (sizeof(uint32_t) + kInputBytes) < inputs) in.fail();
    for (uint32_t i = 0; i < inputs && in.ok(); i++) {
        auto tick = in.get<uint32_t>();
        GameInput x = read_input(in);
        x.tick = tick;
        g.inputs.push_back(x);
    }
    auto checkpoints = in.get<uint32_t>();
    if (in.left() / 8 < checkpoints) in.fail();
    for (uint32_t i = 0; i < checkpoints && in.ok(); i++) g.checkpoints.push_back(in.get<uint64_t>());
    g.final_hash = in.get<uint64_t>();
    in.get<uint64_t>();
    if (!in.ok()) return refuse(why, sound ? "it is cut short" : "it is cut short or damaged");
    if (!sound) return refuse(why, "it is damaged (its checksum does not match)");
    if (!in.done()) return refuse(why, "it has bytes after its end");

    // A sound file of this version from some other writer can still make no sense.
    bool ordered = true;
    for (size_t i = 0; i < g.inputs.size(); i++)
        ordered = ordered && known_kind(g.inputs[i].kind) && g.inputs[i].tick <= g.ticks &&
                  (i == 0 || g.inputs[i - 1].tick <= g.inputs[i].tick);
    if (!ordered || g.checkpoints.size() != g.ticks / kCheckpointTicks + 1 || g.players < 2 || g.players > 4)
        return refuse(why, "its game makes no sense");
    *game = std::move(g);
    return true;
}

bool read_replay(const std::string& path, Recording* game, std::string* why) {
    std::vector<unsigned char> bytes;
    switch (plat::read_file(path, kMaxFile, &bytes)) {
        case plat::ReadStatus::Ok: break;
        case plat::ReadStatus::Missing: return refuse(why, path + ": no such file");
        case plat::ReadStatus::Directory: return refuse(why, path + " is a folder");
        case plat::ReadStatus::TooLarge: return refuse(why, path + " is too large for a replay");
        case plat::ReadStatus::Unreadable: return refuse(why, path + " cannot be read");
    }
    std::string reason;
    if (!decode_replay(bytes.data(), bytes.size(), game, &reason)) return refuse(why, path + ": " + reason);
    return true;
}

bool write_replay(const std::string& path, const Recording& game, std::string* why) {
    std::vector<uint8_t> bytes = encode_replay(game);
    std::string error;
    if (!plat::write_file(path, std::string(bytes.begin(), bytes.end()), &error))
        return refuse(why, "cannot write " + path + ": " + error);
    return true;
}

std::string replay_folder() { return plat::data_path("vantor/replays"); }

std::string keep_replay(const std::string& folder, const Recording& game, size_t keep, std::string* why) {
    if (folder.empty()) {
        refuse(why, "no folder for replays (neither XDG_DATA_HOME nor HOME is set)");
        return std::string();
    }
    // Named by the time and the map: 2026-12-09-001530-World.vrp, World-2 for the second in one second.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
    std::string map;
    for (char c : game.map) map += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    namespace fs = std::filesystem;
    std::string base = folder + "/" + stamp + "-" + map;
    std::string path = base + ".vrp";
    std::error_code ec;
    for (int n = 2; fs::exists(path, ec) && n < 1000; n++) path = base + "-" + std::to_string(n) + ".vrp";
    if (!write_replay(path, game, why)) return std::string();

    // The oldest go first, by the time they were written.
    std::vector<std::pair<fs::file_time_type, fs::path>> files;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file(ec) && entry.path().extension() == ".vrp")
            files.emplace_back(entry.last_write_time(ec), entry.path());
    std::sort(files.begin(), files.end());
    for (size_t i = 0; i + keep < files.size(); i++)
        if (files[i].second != path) fs::remove(files[i].second, ec);
    return path;
}

}  // namespace replay
