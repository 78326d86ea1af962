// The engine benchmark: the cost of one tick in play with 50 missiles in flight, and of a whole
// computer-only game, each set against the 100 ms tick budget; and the state hash, set against the
// tick it follows. Headless, as vantor-sim plays.
#include <benchmark/benchmark.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/app.h"
#include "model/globals.h"
#include "platform/null.h"
#include "replay/state.h"

namespace {

constexpr double kTickBudgetSeconds = 0.1;
constexpr int kGamesMeasured = 20;  // the same games, seeds 1..20, on every run

using Clock = std::chrono::steady_clock;

// The game's window, opened on the intro and taken to the title screen; closed again at the end.
class HeadlessGame {
public:
    HeadlessGame() {
        reset_globals();
        plat::clear_sound_log();
        ok_ = openwindow();
        for (int i = 0; ok_ && i < 100 && !introover; i++) tick();
        click(300, 200);
        ok_ = ok_ && timer_mode == MODE_TITLE;
    }
    ~HeadlessGame() {
        if (hwnd) plat::destroy_window(hwnd);
        hwnd = nullptr;
        plat::clear_sound_log();
    }
    HeadlessGame(const HeadlessGame&) = delete;
    HeadlessGame& operator=(const HeadlessGame&) = delete;

    bool ok() const { return ok_; }
    void tick() { WindowFunction(hwnd, plat::WM_TIMER, 0, 0); }
    void click(int x, int y) {
        WindowFunction(hwnd, plat::WM_LBUTTONDOWN, 0, plat::make_lparam(x, y));
        WindowFunction(hwnd, plat::WM_LBUTTONUP, 0, plat::make_lparam(x, y));
    }
    // Four computer sides on World with the default options, from the title's start control.
    bool start(uint16_t game_seed) {
        for (int i = 0; i < num_maps; i++)
            if (strcasecmp(filelist[i].letter, "World") == 0) cur_map = static_cast<uint8_t>(i);
        num_players = 4;
        for (bool& cpu : cpu_player) cpu = true;
        seed = game_seed;
        click(380, 340);
        return timer_mode == MODE_PLACING;
    }

private:
    bool ok_ = false;
};

// Missile slot i flies 590 pixels east along its own row, crossing the map's east edge; after
// `done` of its steps it is somewhere in the middle of its flight.
void launch_across(int i, int done) {
    icbm& s = shot[i];
    const int x = 300 + 5 * i;
    const int y = 30 + 7 * i;
    s.track.init_motion(static_cast<uint16_t>(x + 1000), static_cast<uint16_t>(y), 0,
                        static_cast<uint16_t>(x + 1590), static_cast<uint16_t>(y), 62);
    s.xdest = static_cast<int16_t>(x + 590);
    s.ydest = static_cast<int16_t>(y);
    s.size = 0;
    for (int k = 0; k < TRAIL_LENGTH; k++) {
        s.xco[k] = -1;
        s.yco[k] = 0;
        s.col[k] = 0;
    }
    s.flag = 1;
    for (int k = 0; k < done; k++) s.track.move_one_square();
}

bool all_in_flight() {
    for (const icbm& s : shot)
        if (!s.flag || s.size != 0 || s.track.at_destination()) return false;
    return true;
}

void report_budget(benchmark::State& state, double seconds, double ticks) {
    double per_tick = ticks > 0 ? seconds / ticks : 0;
    state.counters["us_per_tick"] = per_tick * 1e6;
    state.counters["budget_ratio"] = per_tick / kTickBudgetSeconds;
}

// One tick of play: cursor, 50 missiles in flight with their trails, grey-out and a computer side
// that waits at its launch for a free slot. The missiles are set back before any of them lands.
void BM_TickWith50Missiles(benchmark::State& state) {
    HeadlessGame game;
    if (!game.ok() || !game.start(1)) {
        state.SkipWithError("the game did not start");
        return;
    }
    for (int i = 0; i < 400 && timer_mode == MODE_PLACING; i++) game.tick();
    if (timer_mode != MODE_PLAYING) {
        state.SkipWithError("play did not begin");
        return;
    }
    double seconds = 0;
    long ticks = 0;
    while (state.KeepRunningBatch(200)) {
        state.PauseTiming();
        for (int i = 0; i < NUM_SHOTS; i++) launch_across(i, 7 * i);
        state.ResumeTiming();
        auto start = Clock::now();
        for (int n = 0; n < 200; n++) game.tick();
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        ticks += 200;
        if (timer_mode != MODE_PLAYING || !all_in_flight()) {
            state.SkipWithError("the game ended or a missile landed during the measurement");
            return;
        }
    }
    report_budget(state, seconds, static_cast<double>(ticks));
}
BENCHMARK(BM_TickWith50Missiles)->Unit(benchmark::kMicrosecond);

// The state hash after each tick of the same play as above, timed apart from the tick: the hash a
// game can afford every tick. Also the size of a snapshot taken in the middle of it.
void BM_StateHashWith50Missiles(benchmark::State& state) {
    HeadlessGame game;
    if (!game.ok() || !game.start(1)) {
        state.SkipWithError("the game did not start");
        return;
    }
    for (int i = 0; i < 400 && timer_mode == MODE_PLACING; i++) game.tick();
    double tick_seconds = 0, hash_seconds = 0;
    long ticks = 0;
    uint64_t sink = 0;
    size_t snapshot_bytes = 0;
    while (state.KeepRunningBatch(200)) {
        state.PauseTiming();
        for (int i = 0; i < NUM_SHOTS; i++) launch_across(i, 7 * i);
        state.ResumeTiming();
        for (int n = 0; n < 200; n++) {
            auto start = Clock::now();
            game.tick();
            auto ticked = Clock::now();
            sink ^= replay::state_hash();
            hash_seconds += std::chrono::duration<double>(Clock::now() - ticked).count();
            tick_seconds += std::chrono::duration<double>(ticked - start).count();
        }
        ticks += 200;
        if (snapshot_bytes == 0) snapshot_bytes = replay::take_snapshot().size();
        if (timer_mode != MODE_PLAYING || !all_in_flight()) {
            state.SkipWithError("the game ended or a missile landed during the measurement");
            return;
        }
    }
    benchmark::DoNotOptimize(sink);
    state.counters["us_per_hash"] = hash_seconds / static_cast<double>(ticks) * 1e6;
    state.counters["us_per_tick"] = tick_seconds / static_cast<double>(ticks) * 1e6;
    state.counters["hash_to_tick"] = tick_seconds > 0 ? hash_seconds / tick_seconds : 0;
    state.counters["snapshot_bytes"] = static_cast<double>(snapshot_bytes);
}
BENCHMARK(BM_StateHashWith50Missiles)->Unit(benchmark::kMicrosecond);

// Snapshots every 100 ticks of whole computer games on World, from the start control to the game
// over: their size (the largest and the mean) and the time one takes.
void BM_SnapshotsInPlay(benchmark::State& state) {
    HeadlessGame game;
    if (!game.ok()) {
        state.SkipWithError("the title screen did not open");
        return;
    }
    uint16_t game_seed = 1;
    size_t largest = 0, total = 0, count = 0;
    double seconds = 0;
    for (auto _ : state) {
        if (!game.start(game_seed++)) {
            state.SkipWithError("the game did not start");
            return;
        }
        for (long t = 0; timer_mode != MODE_TITLE; t++) {
            game.tick();
            if (t % 100 != 0 || timer_mode == MODE_TITLE) continue;
            auto start = Clock::now();
            size_t size = replay::take_snapshot().size();
            seconds += std::chrono::duration<double>(Clock::now() - start).count();
            largest = std::max(largest, size);
            total += size;
            count++;
        }
    }
    state.counters["largest_bytes"] = static_cast<double>(largest);
    state.counters["mean_bytes"] = count ? static_cast<double>(total) / static_cast<double>(count) : 0;
    state.counters["ms_per_snapshot"] = count ? seconds / static_cast<double>(count) * 1e3 : 0;
}
BENCHMARK(BM_SnapshotsInPlay)->Unit(benchmark::kMillisecond)->Iterations(5);

// A whole game of four computer sides on World, from the start control to the game-over screen.
void BM_ComputerOnlyGame(benchmark::State& state) {
    HeadlessGame game;
    if (!game.ok()) {
        state.SkipWithError("the title screen did not open");
        return;
    }
    uint16_t game_seed = 1;
    double seconds = 0;
    long ticks = 0;
    for (auto _ : state) {
        if (!game.start(game_seed++)) {
            state.SkipWithError("the game did not start");
            return;
        }
        auto start = Clock::now();
        while (timer_mode != MODE_GAMEOVER) {
            game.tick();
            ticks++;
        }
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        // The game-over sequence back to the title is not part of the game.
        state.PauseTiming();
        while (timer_mode != MODE_TITLE) game.tick();
        plat::clear_sound_log();
        state.ResumeTiming();
    }
    state.counters["ticks_per_game"] = static_cast<double>(ticks) / static_cast<double>(state.iterations());
    report_budget(state, seconds, static_cast<double>(ticks));
}
BENCHMARK(BM_ComputerOnlyGame)->Unit(benchmark::kMillisecond)->Iterations(kGamesMeasured);

}  // namespace

BENCHMARK_MAIN();
