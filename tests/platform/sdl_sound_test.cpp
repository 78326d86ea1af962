// The SDL sound backend on SDL's disk audio driver, which writes what the device would play to a
// file: one channel, cut-offs, restarts, conversion, unreadable data, the quiet device closing and
// opening again, and a missing device.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/sound.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr unsigned char kSilence = 0x80;  // unsigned 8-bit samples

void put_le(Bytes* out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A RIFF WAVE file of 8-bit mono PCM.
Bytes make_wav(uint32_t rate, const Bytes& samples) {
    Bytes out{'R', 'I', 'F', 'F'};
    put_le(&out, 36 + static_cast<uint32_t>(samples.size()), 4);
    for (char c : std::string("WAVEfmt ")) out.push_back(static_cast<unsigned char>(c));
    put_le(&out, 16, 4);
    put_le(&out, 1, 2);  // PCM
    put_le(&out, 1, 2);  // mono
    put_le(&out, rate, 4);
    put_le(&out, rate, 4);  // bytes per second
    put_le(&out, 1, 2);     // block align
    put_le(&out, 8, 2);     // bits per sample
    for (char c : std::string("data")) out.push_back(static_cast<unsigned char>(c));
    put_le(&out, static_cast<uint32_t>(samples.size()), 4);
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

Bytes tone(size_t count, unsigned char level) { return Bytes(count, level); }

size_t count_of(const Bytes& data, unsigned char level) {
    return static_cast<size_t>(std::count(data.begin(), data.end(), level));
}

class SdlSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("vantor-sound-" + std::to_string(getpid()));
        fs::create_directories(dir);
        output = dir / "played.raw";
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
        plat::sound_open();
    }

    void TearDown() override {
        plat::sound_close();
        fs::remove_all(dir);
    }

    Bytes played() const {
        std::ifstream in(output, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Waits until what was played so far passes the test; the driver writes in real time.
    Bytes wait_for(const std::function<bool(const Bytes&)>& done, int timeout_ms = 8000) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        Bytes data = played();
        while (!done(data) && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            data = played();
        }
        return data;
    }

    fs::path dir, output;
};

// True once the level has been played and silence followed it.
bool finished(const Bytes& data, unsigned char level) {
    auto last = std::find(data.rbegin(), data.rend(), level);
    return last != data.rend() && last != data.rbegin() && *(last - 1) == kSilence;
}

TEST_F(SdlSoundTest, PlaysTheSamplesAsRecorded) {
    Bytes samples;
    for (int i = 0; i < 3200; i++) samples.push_back(static_cast<unsigned char>(10 + i % 50));
    Bytes wav = make_wav(32000, samples);
    plat::sound_play("test", wav.data(), wav.size());
    Bytes data = wait_for([&](const Bytes& d) {
        return std::search(d.begin(), d.end(), samples.begin(), samples.end()) != d.end();
    });
    EXPECT_NE(std::search(data.begin(), data.end(), samples.begin(), samples.end()), data.end());
}

TEST_F(SdlSoundTest, NewSoundCutsOffTheOneThatPlays) {
    Bytes long_wav = make_wav(32000, tone(48000, 0x20));
    Bytes short_wav = make_wav(32000, tone(1600, 0xE0));
    plat::sound_play("long", long_wav.data(), long_wav.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    plat::sound_play("short", short_wav.data(), short_wav.size());
    Bytes data = wait_for([](const Bytes& d) { return finished(d, 0xE0); });
    ASSERT_TRUE(finished(data, 0xE0));
    EXPECT_EQ(count_of(data, 0xE0), 1600u);
    EXPECT_GT(count_of(data, 0x20), 0u);
    EXPECT_LT(count_of(data, 0x20), 48000u) << "the first sound was not cut off";
    auto first_short = std::find(data.begin(), data.end(), 0xE0);
    EXPECT_EQ(std::find(first_short, data.end(), 0x20), data.end()) << "the first sound went on after the second";
}

TEST_F(SdlSoundTest, SameSoundTwiceRestarts) {
    Bytes wav = make_wav(32000, tone(48000, 0x20));
    plat::sound_play("again", wav.data(), wav.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    plat::sound_play("again", wav.data(), wav.size());
    Bytes data = wait_for([](const Bytes& d) { return count_of(d, 0x20) > 48000 && finished(d, 0x20); });
    size_t played_samples = count_of(data, 0x20);
    EXPECT_GT(played_samples, 48000u) << "the second start did not restart the sound";
    EXPECT_LT(played_samples, 96000u) << "the second start was queued after the first";
}

TEST_F(SdlSoundTest, OtherRatesAreConverted) {
    Bytes wav = make_wav(16000, tone(1600, 0xE0));
    plat::sound_play("slow", wav.data(), wav.size());
    auto loud_samples = [](const Bytes& d) {
        return static_cast<size_t>(std::count_if(d.begin(), d.end(), [](unsigned char s) { return s >= 0xD0; }));
    };
    Bytes data = wait_for([&](const Bytes& d) { return loud_samples(d) >= 3136 && d.back() == kSilence; });
    size_t loud = loud_samples(data);
    EXPECT_NEAR(static_cast<double>(loud), 3200.0, 64.0) << "0.1 s at 16 kHz should last 0.1 s at 32 kHz";
}

TEST_F(SdlSoundTest, UnreadableDataPlaysNothingAndTheNextSoundPlays) {
    Bytes junk{'R', 'I', 'F', 'F', 1, 2, 3, 4, 'J', 'U', 'N', 'K'};
    testing::internal::CaptureStderr();
    plat::sound_play("junk", junk.data(), junk.size());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("junk"), std::string::npos) << err;
    Bytes wav = make_wav(32000, tone(800, 0xE0));
    plat::sound_play("good", wav.data(), wav.size());
    Bytes data = wait_for([](const Bytes& d) { return finished(d, 0xE0); });
    EXPECT_EQ(count_of(data, 0xE0), 800u);
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](unsigned char s) { return s == kSilence || s == 0xE0; }));
}

// Calls sound_idle as the event loop would until the device closes; false if it never does.
bool idle_until_closed(int timeout_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < until) {
        int wait = plat::sound_idle();
        if (wait < 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 50)));
    }
    return false;
}

TEST_F(SdlSoundTest, QuietDeviceClosesAndTheNextSoundOpensIt) {
    Bytes first = make_wav(32000, tone(1600, 0xE0));
    plat::sound_play("first", first.data(), first.size());
    ASSERT_TRUE(finished(wait_for([](const Bytes& d) { return finished(d, 0xE0); }), 0xE0));

    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(idle_until_closed(4000)) << "the quiet device was never closed";
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700))
        << "the device should linger about a second after its last sound";
    // Closed, the device's thread no longer writes silence.
    size_t closed_size = played().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(played().size(), closed_size);
    EXPECT_EQ(plat::sound_idle(), -1);

    Bytes second = make_wav(32000, tone(800, 0x30));
    plat::sound_play("second", second.data(), second.size());
    Bytes data = wait_for([](const Bytes& d) { return finished(d, 0x30); });
    EXPECT_EQ(count_of(data, 0x30), 800u) << "the sound after the close was not played whole";
}

TEST_F(SdlSoundTest, DeviceStaysOpenWhileASoundPlays) {
    Bytes wav = make_wav(32000, tone(64000, 0x20));  // two seconds
    plat::sound_play("long", wav.data(), wav.size());
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500)) {
        ASSERT_GE(plat::sound_idle(), 0) << "closed while the sound was still playing";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Bytes data = wait_for([](const Bytes& d) { return finished(d, 0x20); });
    EXPECT_EQ(count_of(data, 0x20), 64000u);
}

TEST(SdlSoundWithoutDevice, SaysSoOnceAndStaysSilent) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    testing::internal::CaptureStderr();
    plat::sound_open();
    Bytes wav = make_wav(32000, tone(800, 0xE0));
    plat::sound_play("quiet", wav.data(), wav.size());
    EXPECT_EQ(plat::sound_idle(), -1);
    plat::sound_close();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("vantor: no audio device, playing silently (", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace
