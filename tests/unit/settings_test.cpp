// The player's settings file: written when a game starts, read back over the defaults, and passed
// over when it is damaged.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "game_fixture.h"
#include "platform/files.h"

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
    other += "sound loud\n";  // a key of a later version is passed over
    write(other);
    EXPECT_EQ(load(), "");
    EXPECT_EQ(cur_map, 0);
    EXPECT_EQ(num_city, 7);
}

TEST_F(SettingsTest, ADamagedFileIsPassedOverWithOneLine) {
    const std::string damaged[] = {
        "garbage",
        std::string(kFile).replace(std::string(kFile).find("cities 7"), 8, "cities 70"),
        std::string(kFile).replace(std::string(kFile).find("silos 4"), 7, "silos 3"),
        std::string(kFile).replace(std::string(kFile).find("skill 35"), 8, "skill -5"),
        std::string(kFile).replace(std::string(kFile).find("computer 0 1 1 0"), 16, "computer 0 1"),
        std::string(kFile).substr(0, std::string(kFile).find("fast")),
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
