// A room's game and the rules of who may act in it.
#include "online/room.h"

#include "main/main.h"
#include "model/globals.h"
#include "model/layout.h"
#include "platform/window.h"
#include "replay/state.h"

namespace online {

namespace {

// Inputs waiting for the next frame beyond which a room takes no more, from its players or from
// anyone joining: the sides that may still change hands, four at a leave, fit in the rest.
constexpr size_t kBusy = kMaxFrameInputs - 64;
// Ticks without inputs between two journaled frames: the journal writes one every 10 ticks at least.
constexpr uint32_t kMaxGap = 100'000;

}  // namespace

Room::Room(const GameHooks& hooks) : hooks_(hooks) {}

Room::~Room() {
    if (!open_) return;
    replay::Game::Scope entered(game_);
    plat::Window* window = hwnd;
    plat::destroy_window(window);
    hwnd = nullptr;
}

bool Room::open() {
    replay::Game::Scope entered(game_);
    if (!hooks_.open || !hooks_.open()) return false;
    open_ = true;
    replay::set_listener(&recorder_);
    skipintro();
    uint16_t start = 0;
    random_bytes(&start, sizeof start);
    seed = start;
    // The game starts with every side a person's: those no one plays yet go to the computer.
    settle();
    pending_.clear();
    return timer_mode == MODE_TITLE;
}

int Room::seat(const Token& token) {
    for (int side = 0; side < kMaxPlayers; side++) {
        if (seats_[side].taken) continue;
        seats_[side] = Seat{true, false, token};
        return side;
    }
    return -1;
}

int Room::find(const Token& token) const {
    if (is_zero(token)) return -1;
    for (int side = 0; side < kMaxPlayers; side++)
        if (seats_[side].taken && seats_[side].token == token) return side;
    return -1;
}

void Room::arrive(int side) {
    if (side < 0 || side >= kMaxPlayers || !seats_[side].taken) return;
    seats_[side].connected = true;
    replay::Game::Scope entered(game_);
    hand(side, false);
}

void Room::leave(int side) {
    if (side < 0 || side >= kMaxPlayers) return;
    seats_[side].connected = false;
    if (pressed_by_ == side) pressed_by_ = -1;
    replay::Game::Scope entered(game_);
    settle();
}

void Room::unseat(int side) {
    if (side >= 0 && side < kMaxPlayers && !seats_[side].connected) seats_[side] = Seat{};
}

bool Room::busy() const { return pending_.size() >= kBusy; }

bool Room::connected(int side) const { return side >= 0 && side < kMaxPlayers && seats_[side].connected; }

int Room::leader() const {
    for (int side = 0; side < kMaxPlayers; side++)
        if (seats_[side].connected) return side;
    return -1;
}

int Room::players() const {
    int n = 0;
    for (const Seat& s : seats_) n += s.connected ? 1 : 0;
    return n;
}

Room::Summary Room::summary() {
    Summary s;
    for (const Seat& seat : seats_) s.seated += seat.taken ? 1 : 0;
    game_.in([&] {
        if (num_maps > 0 && cur_map < num_maps)
            s.map.assign(filelist[cur_map].letter, strnlen(filelist[cur_map].letter, sizeof filelist[cur_map].letter));
        s.playing = timer_mode != 3 && timer_mode != 5;
    });
    return s;
}

void Room::apply(const GameInput& input) {
    plat::Message msg = to_message(input);
    hooks_.deliver(msg.message, msg.wParam, msg.lParam);
    pending_.push_back(input);
}

void Room::hand(int side, bool computer) {
    GameInput input;
    input.side = static_cast<uint8_t>(side), input.kind = InputKind::kSideHanded, input.code = computer ? 1 : 0;
    apply(input);
}

// No person's side without its player: the creator may still make a seated side the computer's on
// the title screen, but a side no one connected holds is never left waiting for a person.
void Room::settle() {
    for (int side = 0; side < kMaxPlayers; side++)
        if (!cpu_player[side] && !seats_[side].connected) hand(side, true);
}

bool Room::takes_press(int side, int x, int y) {
    bool leads = side == leader();
    switch (timer_mode) {
        case MODE_TITLE:
        case MODE_INTRO: return leads;
        case MODE_PLAYING:
            if (in_abort_button(x, y)) return leads;
            // A click on the map in a computer's turn switches fast play: the room's pace, the leader's.
            if (cpu_player[cur_player]) return leads && y < MAP_HEIGHT;
            return cur_player == side;
        default: return false;
    }
}

bool Room::fast() {
    replay::Game::Scope entered(game_);
    return fastplay && timer_mode == MODE_PLAYING && cpu_player[cur_player];
}

bool Room::offer(int side, const GameInput& input) {
    if (!open_ || !connected(side) || busy()) return false;
    replay::Game::Scope entered(game_);
    bool taken = false;
    if (input.kind == InputKind::kPress) {
        taken = takes_press(side, input.x, input.y);
        if (taken) pressed_by_ = side;
    } else if (input.kind == InputKind::kRelease) {
        taken = pressed_by_ == side;
        if (taken) pressed_by_ = -1;
    } else if (input.kind == InputKind::kKey) {
        taken = fast_key(input.code) && side == leader();
    }
    if (!taken) return false;
    bool title = timer_mode == MODE_TITLE;
    GameInput made = input;
    made.side = static_cast<uint8_t>(side);
    apply(made);
    // The creator's clicks on the player boxes may have made a side no one plays a person's.
    if (title) settle();
    return true;
}

ServerFrame Room::step() {
    replay::Game::Scope entered(game_);
    bool title = timer_mode == MODE_TITLE;
    int mode = timer_mode, player = cur_player;
    hooks_.deliver(plat::WM_TIMER, TIMER_ID, 0);
    tick_++;
    turned_ = mode != timer_mode || player != cur_player;
    checkpoint();
    ServerFrame frame{tick_, std::move(pending_)};
    pending_.clear();
    // Back at the title after a game: a player who joined during it onto a side beyond the game's is
    // brought into the next one. The inputs go into the next frame.
    if (!title && timer_mode == MODE_TITLE) {
        for (int side = 0; side < kMaxPlayers; side++)
            if (seats_[side].connected && side >= num_players) hand(side, false);
    }
    return frame;
}

void Room::checkpoint() {
    if (tick_ % replay::kCheckpointTicks != 0) return;
    Pieces& kept = pieces_[tick_ / replay::kCheckpointTicks % kKeptPieces];
    kept.tick = tick_;
    hashes_[(tick_ / replay::kCheckpointTicks) % kKept] = {tick_, replay::state_hash_pieces(&kept.hashes)};
}

bool Room::rebuild(const ServerSnapshot& snapshot, const std::vector<ServerFrame>& frames,
                   const std::vector<Token>& tokens, std::string* why, uint64_t* hash) {
    if (!open()) {
        *why = "its game cannot be opened";
        return false;
    }
    replay::Game::Scope entered(game_);
    if (!replay::restore_snapshot(snapshot.bytes.data(), snapshot.bytes.size(), why)) return false;
    tick_ = snapshot.tick;
    for (const ServerFrame& frame : frames) {
        if (frame.tick <= tick_ || frame.tick - tick_ > kMaxGap) {
            *why = "its journal skips from tick " + std::to_string(tick_) + " to " + std::to_string(frame.tick);
            return false;
        }
        while (tick_ + 1 < frame.tick) {
            hooks_.deliver(plat::WM_TIMER, TIMER_ID, 0);
            tick_++;
            checkpoint();
        }
        for (const GameInput& input : frame.inputs) {
            plat::Message msg = to_message(input);
            hooks_.deliver(msg.message, msg.wParam, msg.lParam);
        }
        hooks_.deliver(plat::WM_TIMER, TIMER_ID, 0);
        tick_++;
        checkpoint();
    }
    *hash = replay::state_hash();
    for (size_t side = 0; side < tokens.size() && side < kMaxPlayers; side++)
        if (!is_zero(tokens[side])) seats_[side] = Seat{true, false, tokens[side]};
    pressed_by_ = -1;
    pending_.clear();
    settle();
    return true;
}

std::vector<uint8_t> Room::snapshot() {
    replay::Game::Scope entered(game_);
    return replay::take_snapshot();
}

Room::Check Room::check(uint32_t tick, uint64_t hash, uint64_t* ours) const {
    if (tick == 0 || tick % replay::kCheckpointTicks != 0) return Check::kUnknown;
    const auto& kept = hashes_[(tick / replay::kCheckpointTicks) % kKept];
    if (kept.first != tick) return Check::kUnknown;
    if (ours) *ours = kept.second;
    return kept.second == hash ? Check::kMatch : Check::kDiffers;
}

const std::vector<uint64_t>* Room::pieces(uint32_t tick) const {
    const Pieces& kept = pieces_[tick / replay::kCheckpointTicks % kKeptPieces];
    return tick != 0 && kept.tick == tick ? &kept.hashes : nullptr;
}

bool Room::recording(replay::Recording* out) {
    replay::Game::Scope entered(game_);
    if (!recorder_.recording()) return false;
    *out = recorder_.so_far();
    return true;
}

}  // namespace online
