// The player's settings file: written when a game starts, read back over the defaults, and passed
// over when it is damaged.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "game_fixture.h"
#include "platform/files.h"
#include "platform/null.h"
#include "platform/sound.h"
#include "replay/state.h"

namespace vantor_test {
namespace {

class SettingsTest : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        path_ = (dir_ / "config" / "vantor" / "settings").string();
        settingsfile(path_);
    }
    void TearDown() override {
        plat::sound_switch(true);
        settingsfile("");
        GameTest::TearDown();
    }
    void write(const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
        std::ofstream(path_) << text;
    }
    // The defaults, then the file over them, as at start-up; returns what went to stderr.
    std::string load() {
        initvars();
        fastplay = false;
        testing::internal::CaptureStderr();
        loadsettings();
        return testing::internal::GetCapturedStderr();
    }
    std::string path_;
};

constexpr const char* kFile =
    "# Vantor's settings, written when a game starts.\n"
    "map Quad\ncities 7\nsilos 4\nsubmarines 0\nskill 35\nplayers 3\ncomputer 0 1 1 0\nfast 1\n";

TEST_F(SettingsTest, TheOptionsOfAStartedGameComeBackAtTheNextStart) {
    to_title();
    ASSERT_GE(num_maps, 2);
    ASSERT_STREQ(filelist[0].letter, "Quad");
    click(425, 200);  // the next map
    for (int i = 0; i < 8; i++) click(160, 250);  // cities down to 7
    click(160, 295);  // submarines down to 2
    click(315, 250);  // silos down to 4
    click(425, 295);  // skill up to 25
    click(190, 340);  // box 1 to a computer
    click(250, 340);  // box 3 to a computer,
    click(250, 340);  // then out: three players
    keypress('F');
    click(380, 340);
    ASSERT_EQ(timer_mode, MODE_PLACING);
    std::string map = filelist[cur_map].letter;
    EXPECT_EQ(load(), "");
    EXPECT_EQ(filelist[cur_map].letter, map);
    EXPECT_EQ(num_city, 7);
    EXPECT_EQ(num_sub, 2);
    EXPECT_EQ(num_silo, 4);
    EXPECT_EQ(num_factory, 2);
    EXPECT_EQ(cpu_skill, 25);
    EXPECT_EQ(num_players, 3);
    EXPECT_TRUE(cpu_player[1]);
    EXPECT_FALSE(cpu_player[0]);
    EXPECT_TRUE(fastplay);
}

TEST_F(SettingsTest, AFileReadsOverTheDefaultsAndAMapThatIsGoneGivesTheFirst) {
    write(kFile);
    EXPECT_EQ(load(), "");
    EXPECT_EQ(cur_map, 0);
    EXPECT_EQ(num_city, 7);
    EXPECT_EQ(num_players, 3);
    EXPECT_TRUE(cpu_player[2]);
    EXPECT_TRUE(fastplay);
    std::string other = kFile;
    other.replace(other.find("map Quad"), 8, "map Atlantis");
    other += "volume loud\n";  // a key of a later version is passed over
    write(other);
    EXPECT_EQ(load(), "");
    EXPECT_EQ(cur_map, 0);
    EXPECT_EQ(num_city, 7);
}

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// M is the front end's: it turns the switch, the caption says so, the file keeps it, and the game
// is the same game.
TEST_F(SettingsTest, TheSoundSwitchIsRememberedApartFromTheGame) {
    const plat::Message m{hwnd, plat::WM_KEYDOWN, 'M', 0};
    start_game();
    tick(3);
    uint64_t hash = replay::state_hash();
    std::string caption = plat::window_caption(hwnd);
    ASSERT_TRUE(frontkey(m));
    EXPECT_FALSE(plat::sound_is_on());
    EXPECT_EQ(plat::window_caption(hwnd), caption + " - sound off");
    EXPECT_EQ(replay::state_hash(), hash);
    EXPECT_FALSE(frontkey({hwnd, plat::WM_KEYDOWN, 'F', 0}));
    // The switch alone is a file that reads without complaint, and changes no option.
    std::filesystem::remove(path_);
    frontkey(m);
    frontkey(m);
    EXPECT_EQ(read_text(path_), "sound 0\n");
    plat::sound_switch(true);
    EXPECT_EQ(load(), "");
    EXPECT_FALSE(plat::sound_is_on());
    EXPECT_EQ(num_city, 15);
    // Turned later, it leaves the options of the last game as they were.
    write(kFile);
    frontkey(m);
    EXPECT_EQ(read_text(path_), std::string(kFile) + "sound 1\n");
    EXPECT_EQ(plat::window_caption(hwnd), caption);
}

// The palette is saved as it changes, on its own line, alone in a new file or beside the options.
TEST_F(SettingsTest, ThePaletteIsRememberedBesideTheOptions) {
    savecolourblind(true);
    EXPECT_EQ(load(), "");
    EXPECT_TRUE(colourblind());
    write(kFile);
    savecolourblind(true);
    savecolourblind(false);
    EXPECT_EQ(load(), "");
    EXPECT_FALSE(colourblind());
    EXPECT_EQ(num_city, 7) << "the options are kept";
    std::ifstream file(path_);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10);
}

TEST_F(SettingsTest, ADamagedFileIsPassedOverWithOneLine) {
    const std::string damaged[] = {
        "garbage",
        std::string(kFile).replace(std::string(kFile).find("cities 7"), 8, "cities 70"),
        std::string(kFile).replace(std::string(kFile).find("silos 4"), 7, "silos 3"),
        std::string(kFile).replace(std::string(kFile).find("skill 35"), 8, "skill -5"),
        std::string(kFile).replace(std::string(kFile).find("computer 0 1 1 0"), 16, "computer 0 1"),
        std::string(kFile).substr(0, std::string(kFile).find("fast")),
        std::string(kFile) + "sound 2\n",
        std::string(5000, 'x'),
    };
    for (const std::string& text : damaged) {
        write(text);
        std::string said = load();
        EXPECT_NE(said.find("cannot be read"), std::string::npos) << text;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << text;
        EXPECT_EQ(num_city, 15) << text;
        EXPECT_EQ(num_players, 4) << text;
        EXPECT_FALSE(fastplay) << text;
    }
    std::filesystem::remove(path_);
    EXPECT_EQ(load(), "") << "no file is no news";
}

TEST_F(SettingsTest, ASettingsFileThatCannotBeWrittenIsReportedAndPlayGoesOn) {
    std::filesystem::create_directories(path_);  // a folder where the file should go
    to_title();
    testing::internal::CaptureStderr();
    click(380, 340);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(timer_mode, MODE_PLACING);
    EXPECT_NE(said.find("cannot save the settings"), std::string::npos) << said;
}

// The player's folders: an absolute XDG folder, else one under HOME; a relative XDG folder is ignored.
TEST(PlayerFolders, DataAndConfigurationFollowXdgElseHome) {
    const char* home = std::getenv("HOME");
    std::string kept = home ? home : "";
    setenv("HOME", "/home/p", 1);
    setenv("XDG_DATA_HOME", "relative", 1);
    setenv("XDG_CONFIG_HOME", "/etc/p", 1);
    EXPECT_EQ(plat::data_path("vantor/replays"), "/home/p/.local/share/vantor/replays");
    EXPECT_EQ(plat::config_path("vantor/settings"), "/etc/p/vantor/settings");
    setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(plat::data_path("vantor/rooms"), "/data/vantor/rooms");
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) unsetenv(name);
    EXPECT_EQ(plat::data_path("vantor/rooms"), "");
    if (home) setenv("HOME", kept.c_str(), 1);
}

}  // namespace
}  // namespace vantor_test
