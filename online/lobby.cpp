// The lobby: see lobby.h. Connections and rooms refer to each other by plain pointers, which hold
// because a room goes only once no connection is in it, and a connection leaves its room before the
// lobby forgets it.
#include "online/lobby.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <variant>

#include "online/forensics.h"
#include "model/equates.h"

namespace online {

namespace {

// Messages of any kind a second a connection may send, and inputs a second a seat may, in bursts of
// one second's worth.
constexpr double kMessageRate = 250, kInputRate = 50;
// Hashes that differ in a row before a client is told its game is not the room's.
constexpr int kMaxDesyncs = 3;
constexpr Millis kSweepPeriod = 250;

Bytes share(std::vector<uint8_t> bytes) { return std::make_shared<const std::vector<uint8_t>>(std::move(bytes)); }

std::string token_bytes(const Token& token) { return std::string(token.begin(), token.end()); }

std::string hex(uint64_t v) {
    char text[20];
    std::snprintf(text, sizeof text, "%016" PRIx64, v);
    return text;
}

}  // namespace

bool Bucket::has(Millis now) {
    // Lanes share a bucket, each with a clock read a moment apart: time never runs back.
    if (started_ && now < last_) now = last_;
    if (started_) tokens_ = std::min(burst_, tokens_ + rate_ * static_cast<double>(now - last_) / 1000);
    started_ = true;
    last_ = now;
    return tokens_ >= 1;
}

uint32_t lane_of(RoomCode code, const ServerOptions& options) {
    uint64_t first = code.value >> 35;
    return static_cast<uint32_t>(first / std::max(1u, options.shards) % std::max(1u, options.lanes));
}

Allowances::Address& Allowances::address(const std::string& name) {
    auto [at, fresh] = addresses_.try_emplace(name);
    Address& a = at->second;
    if (fresh) {
        a.creates = Bucket(static_cast<double>(options_.creates_per_minute) / 60, options_.creates_per_minute);
        a.guesses = Bucket(static_cast<double>(options_.guesses_per_minute) / 60,
                           static_cast<double>(options_.guesses_per_minute));
    }
    return a;
}

std::string Allowances::create(const std::string& name, Millis now) {
    std::lock_guard<std::mutex> hold(lock_);
    Address& a = address(name);
    if (a.rooms >= options_.rooms_per_address)
        return "your address holds " + std::to_string(a.rooms) + " rooms already";
    if (!a.creates.take(now)) return "your address has created rooms too fast: wait a minute";
    a.last_create = now;
    if (rooms_ >= options_.max_rooms) return "the server is full: no room for another game";
    a.rooms++;
    rooms_++;
    return std::string();
}

void Allowances::adopted(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock_);
    address(name).rooms++;
    rooms_++;
}

void Allowances::closed(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = addresses_.find(name);
    if (it != addresses_.end() && it->second.rooms > 0) it->second.rooms--;
    if (rooms_ > 0) rooms_--;
}

bool Allowances::may_guess(const std::string& name, Millis now) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = addresses_.find(name);
    return it == addresses_.end() || it->second.guesses.has(now);
}

void Allowances::guessed(const std::string& name, Millis now) {
    std::lock_guard<std::mutex> hold(lock_);
    Address& a = address(name);
    a.last_guess = now;
    a.guesses.take(now);
}

bool Allowances::may_keep_desync(Millis now) {
    std::lock_guard<std::mutex> hold(lock_);
    if (now < next_desync_replay_) return false;
    next_desync_replay_ = now + 10'000;
    return true;
}

void Allowances::sweep(Millis now) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = addresses_.begin(); it != addresses_.end();) {
        // Forgotten once it holds no room and a minute has refilled its allowances.
        const Address& a = it->second;
        if (a.rooms == 0 && now - a.last_create >= 60'000 && now - a.last_guess >= 60'000) it = addresses_.erase(it);
        else ++it;
    }
}

bool Bucket::take(Millis now) {
    if (!has(now)) return false;
    tokens_ -= 1;
    return true;
}

struct Lobby::Conn {
    uint64_t id = 0;
    Link* link = nullptr;
    std::string address, where;
    Table* table = nullptr;
    int side = -1;                // -1 for a watcher
    bool watching = false;        // one of the room's watchers, with no seat
    bool wants_snapshot = false;  // at the next tick, in place of its frame
    uint32_t synced_tick = 0;     // the tick of the last snapshot it was sent
    int desyncs = 0;              // hashes that differed in a row
    uint32_t digest_asked = 0;    // the tick of the digest it was asked for, 0 for none
    bool closing = false;         // refused: what it sends is no longer read
    bool faulty = false;          // dropped for a fault: its seat is freed
    std::optional<ClientJoin> asked;  // its Join waits for the cluster's answer
    Bucket messages{kMessageRate, kMessageRate};
    Millis last_message = 0;
    uint64_t taken = 0;  // the bytes the client had taken at taken_at
    Millis taken_at = 0;
};

// A room with what the lobby keeps beside its game: the connection at each side, the input allowance
// of each seat (which a connection taking the seat back does not renew), and the clock.
struct Lobby::Table {
    Table(RoomCode c, const GameHooks& hooks, std::string by) : code(c), room(hooks), creator(std::move(by)) {
        inputs.fill(Bucket{kInputRate, kInputRate});
    }
    RoomCode code;
    Room room;
    std::string creator;  // its address
    std::array<Conn*, kMaxPlayers> conns{};
    std::vector<Conn*> watchers;
    ServerRoster roster;  // as last sent
    std::array<Bucket, kMaxPlayers> inputs{Bucket{0, 0}, Bucket{0, 0}, Bucket{0, 0}, Bucket{0, 0}};
    bool ticking = false;
    Millis next = 0;
    Millis empty_since = 0;
    bool joined = false;  // someone besides the creator took a seat
    bool open = false;    // listed in GET /rooms
    Millis created = 0;
    bool snapshot_due = true;  // in a cluster: the journal's next entry is a snapshot
    Millis snapshot_at = 0, journaled_at = 0;
};

namespace {

template <typename T>
ServerRoster roster_of(const T& table) {
    ServerRoster r;
    for (int side = 0; side < kMaxPlayers; side++)
        if (table.room.connected(side)) r.players |= static_cast<uint8_t>(1u << side);
    r.watchers = static_cast<uint8_t>(table.watchers.size());
    return r;
}

}  // namespace

Lobby::Lobby(ServerOptions options, GameHooks hooks, std::shared_ptr<Allowances> allowances)
    : options_(std::move(options)),
      hooks_(std::move(hooks)),
      log_(options_.log),
      allowances_(allowances ? std::move(allowances) : std::make_shared<Allowances>(options_)) {}

Lobby::~Lobby() {
    if (cluster_) cluster_->detach(cluster_id_);
    close_rooms();
}

void Lobby::close_rooms() {
    for (auto& [id, c] : conns_) c->table = nullptr;
    due_.clear();
    tables_.clear();
}

Room* Lobby::room(RoomCode code) {
    auto it = tables_.find(code.value);
    return it == tables_.end() ? nullptr : &it->second->room;
}

size_t Lobby::watchers(RoomCode code) const {
    auto it = tables_.find(code.value);
    return it == tables_.end() ? 0 : it->second->watchers.size();
}

std::string Lobby::in_room(const Conn& c) const {
    return c.where + (c.table ? " in room " + show_code(c.table->code) : "");
}

uint64_t Lobby::connect(Link* link, const std::string& address, const std::string& where, Millis now) {
    auto conn = std::make_unique<Conn>();
    Conn& c = *conn;
    c.id = next_id_++;
    c.link = link;
    c.address = address;
    c.where = where;
    c.last_message = c.taken_at = now;
    conns_[c.id] = std::move(conn);
    if (conns_.size() > options_.max_connections) refuse(c, "the server is full: too many connections");
    return c.id;
}

void Lobby::receive(uint64_t id, const uint8_t* data, size_t size, Millis now) {
    auto it = conns_.find(id);
    if (it == conns_.end() || it->second->closing) return;
    Conn& c = *it->second;
    c.last_message = now;
    if (!c.messages.take(now)) return drop(c, "too many messages");
    std::optional<ToServer> message = decode_to_server(data, size);
    if (!message) return drop(c, "a malformed message");
    handle(c, *message, now);
}

void Lobby::frame(uint64_t id, Millis now) {
    auto it = conns_.find(id);
    if (it != conns_.end() && !it->second->closing && !it->second->messages.take(now))
        drop(*it->second, "too many messages");
}

void Lobby::fault(uint64_t id, const std::string& why, Millis now) {
    auto it = conns_.find(id);
    if (it == conns_.end()) return;
    it->second->last_message = std::max(it->second->last_message, now);
    drop(*it->second, why);
}

void Lobby::turn_away(const std::string& address, const std::string& why, Millis now) {
    counts_.drops_total++;
    log_.line("turned away", "turned away " + address + ": " + why, now);
}

void Lobby::handle(Conn& c, const ToServer& message, Millis now) {
    bool hello = std::holds_alternative<ClientCreate>(message) || std::holds_alternative<ClientJoin>(message) ||
                 std::holds_alternative<ClientWatch>(message);
    if (hello) {
        if (c.table || c.asked) return drop(c, "a second create or join");
        if (const auto* m = std::get_if<ClientJoin>(&message)) return join(c, *m, now);
        if (const auto* m = std::get_if<ClientWatch>(&message)) {
            if (m->version != kProtocolVersion)
                return refuse(c, "this server speaks version " + std::to_string(kProtocolVersion));
            if (lane_of(m->code, options_) != options_.lane) return elsewhere(c, m->code);
            auto it = tables_.find(m->code.value);
            if (it == tables_.end()) return refuse(c, "no room " + show_code(m->code));
            return watch(c, *it->second, false, now);
        }
        if (std::get<ClientCreate>(message).version != kProtocolVersion)
            return refuse(c, "this server speaks version " + std::to_string(kProtocolVersion));
        return create(c, std::get<ClientCreate>(message).open, now);
    }
    if (!c.table) return drop(c, "an input or hash before joining a room");
    if (const auto* m = std::get_if<ClientHash>(&message)) return hash(c, *m);
    if (const auto* m = std::get_if<ClientDigest>(&message)) return digest(c, *m);
    // A watcher's clicks reach no game.
    if (c.watching) {
        counts_.ignored_total++;
        return;
    }
    if (!c.table->inputs[static_cast<size_t>(c.side)].take(now)) return drop(c, "too many inputs");
    if (c.table->room.offer(c.side, std::get<ClientInput>(message).input)) counts_.inputs_total++;
    else counts_.ignored_total++;
}

// A code of another lane of this process: the front sends a Join or Watch to its lane by the path.
void Lobby::elsewhere(Conn& c, RoomCode code) {
    std::string path = show_code(code);
    path.erase(4, 1);
    refuse(c, "room " + show_code(code) + " is joined at the path /room/" + path);
}

void Lobby::create(Conn& c, bool open, Millis now) {
    if (cluster_ && !hold_lease(now)) return refuse(c, "the server is not serving rooms just now: try again");
    std::string no = allowances_->create(c.address, now);
    if (!no.empty()) return refuse(c, no);
    RoomCode code;
    do code = new_code();
    while (tables_.count(code.value) || (code.value >> 35) % options_.shards != options_.shard ||
           lane_of(code, options_) != options_.lane);
    auto table = std::make_unique<Table>(code, hooks_, c.address);
    if (!table->room.open()) {
        allowances_->closed(c.address);
        return refuse(c, "the server cannot open a game");
    }
    Table& t = *table;
    t.open = open;
    t.created = now;
    tables_[code.value] = std::move(table);
    seat(c, t, t.room.seat(new_token()), false, now);
    if (cluster_) cluster_->created(cluster_id_, show_code(code), {token_bytes(t.room.token(0))});
}

void Lobby::join(Conn& c, const ClientJoin& m, Millis now) {
    if (m.version != kProtocolVersion)
        return refuse(c, "this server speaks version " + std::to_string(kProtocolVersion));
    // A wrong code costs the address a guess; with none left, it may not ask for any room, right or not.
    if (!allowances_->may_guess(c.address, now))
        return refuse(c, "too many wrong codes from your address: wait a minute");
    if (lane_of(m.code, options_) != options_.lane) return elsewhere(c, m.code);
    auto it = tables_.find(m.code.value);
    if (it == tables_.end()) {
        if (cluster_ && ask_cluster(c, m)) return;
        allowances_->guessed(c.address, now);
        return refuse(c, "no room " + show_code(m.code));
    }
    Table& t = *it->second;
    if (t.room.busy()) return refuse(c, "room " + show_code(m.code) + " is busy: try again");
    if (!is_zero(m.token)) {
        int side = t.room.find(m.token);
        if (side < 0) return refuse(c, "that token holds no seat in room " + show_code(m.code));
        // The seat's old connection may linger, half open: the new one takes over.
        if (Conn* old = t.conns[static_cast<size_t>(side)]) {
            old->link->drop();
            gone(old->id, "its seat was taken back by a new connection", now);
        }
        return seat(c, t, side, true, now);
    }
    int side = t.room.seat(new_token());
    if (side < 0) return watch(c, t, true, now);
    t.joined = true;
    seat(c, t, side, false, now);
    if (cluster_) cluster_->token(show_code(t.code), side, token_bytes(t.room.token(side)));
}

// The connection takes the side: Welcome now, the game's snapshot at the next tick, frames after.
void Lobby::seat(Conn& c, Table& table, int side, bool back, Millis now) {
    c.table = &table;
    c.side = side;
    c.wants_snapshot = true;
    table.conns[static_cast<size_t>(side)] = &c;
    table.room.arrive(side);
    send(c, share(encode(ServerWelcome{table.code, static_cast<uint8_t>(side), side == 0, table.room.token(side), false,
                                       !options_.site.empty()})));
    const char* what = back ? "rejoined" : side == 0 ? "created" : "joined";
    log_.line("room",
              "room " + show_code(table.code) + " " + what + ", side " + std::to_string(side) + " from " + c.where,
              now);
    if (table.ticking) return;
    table.ticking = true;
    table.next = now + options_.tick_ms;
    due_.emplace(table.next, table.code.value);
}

// The connection watches the room: Welcome now, the game's snapshot at the next tick (at once in a room
// that stands still), frames after.
void Lobby::watch(Conn& c, Table& table, bool full, Millis now) {
    std::string room = "room " + show_code(table.code);
    if (table.watchers.size() >= static_cast<size_t>(kMaxWatchers))
        return refuse(c,
                      room + (full ? " is full, and so are its watchers' places" : " has all the watchers it takes"));
    c.table = &table;
    c.watching = true;
    c.wants_snapshot = true;
    table.watchers.push_back(&c);
    log_.line("room", room + " watched" + (full ? ", its seats full," : "") + " from " + c.where, now);
    if (!send(c, share(encode(ServerWelcome{table.code, 0, false, Token{}, true, !options_.site.empty()})))) return;
    if (table.ticking) return;
    Bytes snapshot;
    if (send(c, share(encode(roster_of(table))))) send_snapshot(c, table, &snapshot);
}

void Lobby::hash(Conn& c, const ClientHash& m) {
    // Hashes made before the last snapshot came in, or while one is on its way, say nothing new.
    if (c.wants_snapshot || m.tick <= c.synced_tick) return;
    uint64_t ours = 0;
    Room::Check check = c.table->room.check(m.tick, m.hash, &ours);
    if (check == Room::Check::kUnknown) return;
    counts_.checks_total++;
    if (check == Room::Check::kMatch) {
        c.desyncs = 0;
        return;
    }
    counts_.desyncs_total++;
    log_.line("desync",
              "room " + show_code(c.table->code) + " desync at tick " + std::to_string(m.tick) + ", side " +
                  std::to_string(c.side) + ": client " + hex(m.hash) + ", server " + hex(ours),
              c.last_message);
    if (++c.desyncs >= kMaxDesyncs) return refuse(c, "your game keeps differing from the room's");
    c.wants_snapshot = true;
    // The first of a run is looked into: which pieces differ, and the game that led there.
    if (c.desyncs > 1) return;
    c.digest_asked = m.tick;
    send(c, share(encode(ServerAskDigest{m.tick})));
    keep_desync(*c.table, m.tick, c.last_message);
}

void Lobby::digest(Conn& c, const ClientDigest& m) {
    if (m.tick == 0 || m.tick != c.digest_asked) return;
    c.digest_asked = 0;
    const std::vector<uint64_t>* ours = c.table->room.pieces(m.tick);
    std::string where = "room " + show_code(c.table->code) + " desync at tick " + std::to_string(m.tick) + ", side " +
                        std::to_string(c.side) + ": ";
    log_.line("desync digest",
              where + (ours ? "differs in " + differing_pieces(*ours, m.pieces) : "the room's pieces are no longer kept"),
              c.last_message);
}

void Lobby::keep_desync(Table& table, uint32_t tick, Millis now) {
    if (options_.desync_folder.empty() || !allowances_->may_keep_desync(now)) return;
    std::string why;
    std::string path = keep_desync_replay(options_.desync_folder, table.room, options_.desync_replays, &why);
    log_.line("desync replay",
              "room " + show_code(table.code) + " desync at tick " + std::to_string(tick) + ": " +
                  (path.empty() ? "no replay kept: " + why : "its game is in " + path),
              now);
}

void Lobby::refuse(Conn& c, const std::string& reason) {
    if (c.closing) return;
    counts_.refusals_total++;
    log_.line("refused", "refused " + in_room(c) + ": " + reason, c.last_message);
    c.link->send(share(encode(ServerRefuse{reason})));
    c.link->close();
    c.closing = true;
}

// A fault of the client's: closed at once, and the seat it took, if any, is free again.
void Lobby::drop(Conn& c, const std::string& why) {
    counts_.drops_total++;
    log_.line("dropped", "dropped " + in_room(c) + ": " + why, c.last_message);
    c.faulty = true;
    c.link->drop();
    gone(c.id, why, c.last_message);
}

bool Lobby::send(Conn& c, Bytes bytes) {
    c.link->send(std::move(bytes));
    if (c.link->queued() <= options_.max_queued) return true;
    drop(c, "it does not read what it is sent");
    return false;
}

// The room's game at its tick, made once for all who want it.
bool Lobby::send_snapshot(Conn& c, Table& table, Bytes* snapshot) {
    if (!*snapshot) *snapshot = share(encode(ServerSnapshot{table.room.tick(), table.room.snapshot()}));
    if ((*snapshot)->size() > kMaxMessage) {
        refuse(c, "the game is too large to send");
        return false;
    }
    c.wants_snapshot = false;
    c.synced_tick = table.room.tick();
    return send(c, *snapshot);
}

void Lobby::gone(uint64_t id, const std::string& why, Millis now) {
    auto it = conns_.find(id);
    if (it == conns_.end()) return;
    std::unique_ptr<Conn> conn = std::move(it->second);
    conns_.erase(it);
    Table* table = conn->table;
    if (table && conn->watching) {
        std::erase(table->watchers, conn.get());
        log_.line("room", "room " + show_code(table->code) + " no longer watched from " + conn->where + ": " + why,
                  now);
        return;
    }
    size_t side = static_cast<size_t>(conn->side);
    if (!table || table->conns[side] != conn.get()) return;
    table->conns[side] = nullptr;
    int leader = table->room.leader();
    table->room.leave(conn->side);
    if (conn->faulty) table->room.unseat(conn->side);
    if (conn->faulty && cluster_) cluster_->token(show_code(table->code), conn->side, "");
    std::string room = "room " + show_code(table->code);
    log_.line("room", room + " left, side " + std::to_string(side) + ": " + why, now);
    if (leader == conn->side && table->room.leader() >= 0)
        log_.line("room", room + " led by side " + std::to_string(table->room.leader()) + " until side 0 is back", now);
    if (table->room.players() == 0) table->empty_since = now;
}

void Lobby::tick(Table& table, Millis now) {
    Millis late = std::max<Millis>(0, now - table.next);
    for (size_t i = 0; i < kLateBounds.size(); i++)
        if (late <= kLateBounds[i]) counts_.late_le[i]++;
    counts_.late_count++;
    counts_.late_sum_ms += static_cast<uint64_t>(late);
    ServerFrame frame = table.room.step();
    counts_.frames_total++;
    if (cluster_) journal(table, frame, now);
    // One encoding for every connection in the room, in a buffer used again once all have sent it.
    std::shared_ptr<std::vector<uint8_t>> buffer = frame_buffer();
    encode(frame, buffer.get());
    Bytes frame_bytes = std::move(buffer);
    Bytes snapshot;
    // Who is in the room goes to everyone when it has changed, and to each newcomer before its game.
    ServerRoster roster = roster_of(table);
    bool changed = !(roster == table.roster);
    table.roster = roster;
    Bytes roster_bytes;
    // A send may drop its connection, which then leaves the table: the list is taken first.
    std::array<Conn*, kMaxWatchers + kMaxPlayers> all{};
    size_t count = 0;
    for (Conn* c : table.watchers)
        if (count < all.size()) all[count++] = c;
    for (Conn* c : table.conns)
        if (c && count < all.size()) all[count++] = c;
    for (size_t i = 0; i < count; i++) {
        Conn* c = all[i];
        if (changed || c->wants_snapshot) {
            if (!roster_bytes) roster_bytes = share(encode(roster));
            if (!send(*c, roster_bytes)) continue;
        }
        if (c->wants_snapshot) send_snapshot(*c, table, &snapshot);
        else send(*c, frame_bytes);
    }
    // A room no one plays in stands still until someone comes back or it goes.
    if (table.room.players() == 0) {
        table.ticking = false;
        return;
    }
    // A late tick runs once, and the clock goes on from now: no bursts to catch up. Fast play in a
    // computer's turn runs the clock four times as fast, as the desktop's does.
    Millis period = options_.tick_ms;
    if (table.room.fast()) period = std::max<Millis>(1, period * FAST_TICK_MS / TICK_MS);
    table.next = std::max(table.next + period, now);
}

// A few spare buffers are looked at from where the last was found; none free, the pool grows, up to a
// bound beyond which a frame has a buffer of its own.
std::shared_ptr<std::vector<uint8_t>> Lobby::frame_buffer() {
    constexpr size_t kLooks = 4, kMostSpare = 4096;
    for (size_t i = 0; i < kLooks && !spare_.empty(); i++) {
        spare_at_ = (spare_at_ + 1) % spare_.size();
        if (spare_[spare_at_].use_count() == 1) return spare_[spare_at_];
    }
    auto fresh = std::make_shared<std::vector<uint8_t>>();
    if (spare_.size() < kMostSpare) spare_.push_back(fresh);
    return fresh;
}

Millis Lobby::advance(Millis now) {
    if (cluster_) hold_lease(now);
    while (!due_.empty() && due_.begin()->first <= now) {
        Table& table = *tables_.at(due_.begin()->second);
        due_.erase(due_.begin());
        tick(table, now);
        if (table.ticking) due_.emplace(table.next, table.code.value);
    }
    if (now >= next_sweep_) {
        sweep(now);
        next_sweep_ = now + kSweepPeriod;
    }
    return due_.empty() ? next_sweep_ : std::min(next_sweep_, due_.begin()->first);
}

void Lobby::sweep(Millis now) {
    Millis idle = Millis{options_.idle_seconds} * 1000, write = Millis{options_.write_seconds} * 1000;
    std::vector<std::pair<uint64_t, std::string>> faults;
    for (auto& [id, conn] : conns_) {
        Conn& c = *conn;
        if (c.closing) continue;
        if (now - c.last_message >= idle)
            faults.emplace_back(id, "nothing sent for " + std::to_string(options_.idle_seconds) + " s");
        // Frames wait, and the client has taken none of them for a while: it does not read.
        if (c.link->queued() == 0 || c.link->taken() != c.taken) c.taken = c.link->taken(), c.taken_at = now;
        else if (now - c.taken_at >= write)
            faults.emplace_back(id, "it took nothing it was sent for " + std::to_string(options_.write_seconds) + " s");
    }
    for (const auto& [id, why] : faults) fault(id, why, now);

    for (auto it = tables_.begin(); it != tables_.end();) {
        Table& t = *it->second;
        // A room no one but its creator ever took a seat in goes soon after the creator leaves.
        Millis keep = Millis{t.joined ? options_.expiry_seconds : options_.abandon_seconds} * 1000;
        bool empty = std::none_of(t.conns.begin(), t.conns.end(), [](Conn* c) { return c != nullptr; });
        if (!empty || now - t.empty_since < keep) {
            ++it;
            continue;
        }
        log_.line("room", "room " + show_code(t.code) + " expired", now);
        for (Conn* w : t.watchers) {
            refuse(*w, "room " + show_code(t.code) + " has closed: no player is left");
            w->table = nullptr;
        }
        if (t.ticking) due_.erase({t.next, t.code.value});
        if (cluster_) cluster_->closed(show_code(t.code));
        allowances_->closed(t.creator);
        it = tables_.erase(it);
    }
    allowances_->sweep(now);
    log_.summarise(now);
}

std::vector<OpenRoom> Lobby::open_rooms(Millis now) {
    std::vector<OpenRoom> list;
    for (auto& [value, table] : tables_) {
        if (!table->open) continue;
        Room::Summary s = table->room.summary();
        int watching = static_cast<int>(table->watchers.size());
        list.push_back(OpenRoom{table->code, s.map, s.seated, kMaxPlayers - s.seated, watching, s.playing,
                                (now - table->created) / 1000});
    }
    // The oldest first, so that a list read twice keeps its order.
    std::sort(list.begin(), list.end(), [](const OpenRoom& a, const OpenRoom& b) {
        return a.age != b.age ? a.age > b.age : a.code.value < b.code.value;
    });
    return list;
}

const std::string& Lobby::rooms_json(Millis now) {
    if (!rooms_made_ || now - rooms_at_ >= 1000) {
        rooms_json_ = online::rooms_json(open_rooms(now));
        rooms_at_ = now;
        rooms_made_ = true;
    }
    return rooms_json_;
}

bool metrics_allowed(const ServerOptions& options, const std::string& address) {
    if (options.metrics_from == "any" || (options.metrics_from.empty() && options.site.empty())) return true;
    if (!options.metrics_from.empty()) return address == options.metrics_from;
    return address.starts_with("127.") || address.starts_with("::ffff:127.") || address == "::1";
}

Metrics Lobby::metrics() const {
    Metrics m = counts_;
    m.rooms = tables_.size();
    m.connections = conns_.size();
    for (const auto& [code, table] : tables_) {
        m.players += static_cast<uint64_t>(table->room.players());
        m.watchers += table->watchers.size();
    }
    for (const auto& [id, c] : conns_) m.queued_bytes += c->link->queued();
    if (cluster_) m.journal_dropped_total = cluster_->dropped();
    return m;
}

std::string metrics_text(const Metrics& m) {
    struct Line {
        const char* name;
        const char* type;
        const char* help;
        uint64_t value;
    };
    const Line lines[] = {
        {"vantor_rooms", "gauge", "Rooms open.", m.rooms},
        {"vantor_players", "gauge", "Players connected to a room.", m.players},
        {"vantor_watchers", "gauge", "Watchers connected to a room.", m.watchers},
        {"vantor_connections", "gauge", "WebSocket connections open.", m.connections},
        {"vantor_queued_bytes", "gauge", "Memory held by messages waiting to be sent, over every connection.",
         m.queued_bytes},
        {"vantor_frames_total", "counter", "Ticks of every room, each sent as a frame.", m.frames_total},
        {"vantor_checks_total", "counter", "Clients' state hashes compared with the room's.", m.checks_total},
        {"vantor_desyncs_total", "counter", "Clients' state hashes that differed from the room's.", m.desyncs_total},
        {"vantor_refusals_total", "counter", "Refusals sent: server full, no such room, other version, limits.",
         m.refusals_total},
        {"vantor_drops_total", "counter", "Connections closed for a fault: malformed, oversized, flooding, idle.",
         m.drops_total},
        {"vantor_inputs_total", "counter", "Players' inputs the games took.", m.inputs_total},
        {"vantor_ignored_total", "counter", "Players' inputs the games did not take.", m.ignored_total},
        {"vantor_moves_total", "counter", "Joins sent on to the process of the cluster that has the room.",
         m.moves_total},
        {"vantor_takeovers_total", "counter", "Rooms rebuilt here from the journal of a dead process.",
         m.takeovers_total},
        {"vantor_journal_dropped_total", "counter", "Journal writes the cluster could not make.",
         m.journal_dropped_total},
    };
    std::string text;
    for (const Line& l : lines) {
        text += std::string("# HELP ") + l.name + " " + l.help + "\n";
        text += std::string("# TYPE ") + l.name + " " + l.type + "\n";
        text += std::string(l.name) + " " + std::to_string(l.value) + "\n";
    }
    const char* late = "vantor_tick_lateness_ms";
    text += std::string("# HELP ") + late + " How long after its time each room's tick ran, in ms.\n";
    text += std::string("# TYPE ") + late + " histogram\n";
    for (size_t i = 0; i < kLateBounds.size(); i++)
        text += std::string(late) + "_bucket{le=\"" + std::to_string(kLateBounds[i]) + "\"} " +
                std::to_string(m.late_le[i]) + "\n";
    text += std::string(late) + "_bucket{le=\"+Inf\"} " + std::to_string(m.late_count) + "\n";
    text += std::string(late) + "_sum " + std::to_string(m.late_sum_ms) + "\n";
    text += std::string(late) + "_count " + std::to_string(m.late_count) + "\n";
    return text;
}

// --- The cluster ------------------------------------------------------------------------------------
// A lobby of a cluster writes its rooms' records and journals through cluster_, asks it for the rooms
// it does not have, and serves rooms only under the lease it had when they were made or taken.

void Lobby::join_cluster(std::shared_ptr<ClusterPort> cluster, Post post) {
    cluster_ = std::move(cluster);
    cluster_id_ = cluster_->attach([this, post](ClusterNews news) {
        post([this, news = std::move(news)](Millis now) mutable { heard(std::move(news), now); });
    });
    lease_ = cluster_->serving();
}

// False when the lease the rooms were held under is gone: they are given up, and so is a Create.
bool Lobby::hold_lease(Millis now) {
    uint64_t lease = cluster_->serving();
    if (lease != lease_) {
        if (lease_ != 0) give_up(now);
        lease_ = lease;
    }
    return lease != 0;
}

// Every room goes, and its players' connections are closed with no refusal, so that they rejoin by
// themselves and find the room where the cluster has it by then.
void Lobby::give_up(Millis now) {
    std::vector<uint64_t> in_rooms;
    for (auto& [id, c] : conns_)
        if (c->table) in_rooms.push_back(id);
    for (uint64_t id : in_rooms) {
        conns_.at(id)->link->drop();
        gone(id, "this server lost its lease in the cluster", now);
    }
    log_.line("cluster", "lease lost: " + std::to_string(tables_.size()) + " rooms given up to the cluster", now);
    for (auto& [code, table] : tables_) allowances_->closed(table->creator);
    due_.clear();
    tables_.clear();
}

bool Lobby::ask_cluster(Conn& c, const ClientJoin& m) {
    c.asked = m;
    cluster_->find(cluster_id_, c.id, show_code(m.code));
    return true;
}

void Lobby::heard(ClusterNews news, Millis now) {
    if (news.kind == ClusterNews::want_snapshot) {
        RoomCode code;
        auto it = parse_code(news.code, &code) ? tables_.find(code.value) : tables_.end();
        if (it != tables_.end()) it->second->snapshot_due = true;
        return;
    }
    auto it = conns_.find(news.conn);
    Conn* c = it == conns_.end() || it->second->closing || !it->second->asked ? nullptr : it->second.get();
    const Found& found = news.where;
    // A room taken over is rebuilt whether or not its asker is still there: its other players come.
    bool built = found.kind == Found::taken && rebuild(news.code, found, c ? c->address : "", now);
    if (!c) return;
    ClientJoin join_message = *c->asked;
    c->asked.reset();
    std::string room = "room " + news.code;
    if ((built || found.kind == Found::mine) && tables_.count(join_message.code.value))
        return join(*c, join_message, now);
    if (found.kind == Found::moved) {
        std::string name = news.code;
        name.erase(4, 1);
        std::vector<uint8_t> moved = encode(ServerMoved{found.address + "/room/" + name});
        if (moved.empty()) return refuse(*c, room + " is on a process with an address too long to send");
        counts_.moves_total++;
        log_.line("moved", room + " is on " + found.address + ": " + c->where + " sent there", now);
        c->link->send(share(std::move(moved)));
        c->link->close();
        c->closing = true;
        return;
    }
    if (found.kind == Found::none) {
        allowances_->guessed(c->address, now);
        return refuse(*c, "no room " + news.code);
    }
    if (found.kind == Found::taken) return refuse(*c, room + " cannot be rebuilt from its journal");
    // The directory is away, or the room between owners: closed with no refusal, so that a player
    // rejoining tries again by itself.
    log_.line("cluster", room + " cannot be found just now: " + c->where + " closed to try again", now);
    c->link->drop();
    gone(c->id, "its room cannot be found just now", now);
}

// The room of a dead process, from its journal: the snapshot, then every frame after it.
bool Lobby::rebuild(const std::string& shown, const Found& found, const std::string& by, Millis now) {
    RoomCode code;
    std::optional<ToClient> snapshot =
        decode_to_client(reinterpret_cast<const uint8_t*>(found.snapshot.data()), found.snapshot.size());
    std::string why = "its journal has no snapshot";
    bool ok = parse_code(shown, &code) && !tables_.count(code.value) && snapshot &&
              std::holds_alternative<ServerSnapshot>(*snapshot);
    std::vector<ServerFrame> frames;
    for (size_t i = 0; ok && i < found.frames.size(); i++) {
        auto frame = decode_to_client(reinterpret_cast<const uint8_t*>(found.frames[i].data()), found.frames[i].size());
        if (!frame || !std::holds_alternative<ServerFrame>(*frame)) ok = false, why = "its journal is damaged";
        else frames.push_back(std::move(std::get<ServerFrame>(*frame)));
    }
    std::vector<Token> tokens;
    for (const std::string& t : found.tokens) {
        Token token{};
        if (t.size() == token.size()) std::copy(t.begin(), t.end(), token.begin());
        tokens.push_back(token);
    }
    auto table = std::make_unique<Table>(code, hooks_, by);
    uint64_t hash = 0;
    if (ok) ok = table->room.rebuild(std::get<ServerSnapshot>(*snapshot), frames, tokens, &why, &hash);
    if (!ok) {
        log_.line("cluster", "room " + shown + " cannot be rebuilt: " + why, now);
        if (!tables_.count(code.value)) cluster_->closed(shown);
        return false;
    }
    table->joined = true;
    table->created = table->empty_since = now;
    log_.line("cluster",
              "room " + shown + " rebuilt at tick " + std::to_string(table->room.tick()) + ", state " + hex(hash) +
                  ", from a snapshot and " + std::to_string(frames.size()) + " frames",
              now);
    counts_.takeovers_total++;
    allowances_->adopted(table->creator);
    tables_[code.value] = std::move(table);
    return true;
}

// The journal of a tick: a snapshot at each turn, at least every 30 s and whenever the cluster asks;
// else the frame, if it has inputs or a second has passed since the last entry.
void Lobby::journal(Table& table, const ServerFrame& frame, Millis now) {
    if (table.snapshot_due || table.room.turned() || now - table.snapshot_at >= 30'000) {
        std::vector<uint8_t> bytes = encode(ServerSnapshot{table.room.tick(), table.room.snapshot()});
        cluster_->snapshot(show_code(table.code), std::string(bytes.begin(), bytes.end()));
        table.snapshot_due = false;
        table.snapshot_at = table.journaled_at = now;
    } else if (!frame.inputs.empty() || now - table.journaled_at >= 1000) {
        std::vector<uint8_t> bytes = encode(frame);
        cluster_->frame(show_code(table.code), std::string(bytes.begin(), bytes.end()));
        table.journaled_at = now;
    }
}

}  // namespace online
