// The rooms file that keeps a player's tokens, and a creator who quits and comes back with the one kept
// there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "harness.h"
#include "online/seats.h"

namespace {

using namespace online_test;
using namespace std::chrono_literals;

const char kToken[] = "00112233445566778899aabbccddeeff";

online::KeptSeat seat(uint64_t code, const std::string& server = "127.0.0.1:8765", uint8_t first = 1) {
    online::KeptSeat s{online::RoomCode{code}, server, {}};
    s.token[0] = first;
    return s;
}

// A data folder of the test's own, as XDG_DATA_HOME.
class SeatsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("vantor-seats-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        setenv("XDG_DATA_HOME", folder_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_DATA_HOME");
        std::filesystem::remove_all(folder_);
    }
    std::filesystem::path folder_;
};

TEST(SeatsTest, ALineIsACodeAServerAndATokenAndAnyOtherLineIsLeftOut) {
    std::string text = std::string("K7QM-2XPA 127.0.0.1:8765 ") + kToken + "\r\n" +  // a line from Windows too
                       "k7qm2xpa ws://[::1]:8765 " + kToken + "\n\n" +  // a code as typed, an address; a blank line
                       "K7QM-2XPA 127.0.0.1:8765\n" +                   // no token
                       "K7QM-2XPA 127.0.0.1:8765 " + std::string(32, '0') + "\n" +  // the zero token
                       "K7QM-2XPA 127.0.0.1:8765 " + std::string(31, 'a') + "\n" +  // a digit short
                       "K7QM-2XPU 127.0.0.1:8765 " + kToken + "\n" +                // U is in no code
                       "K7QM-2XPA 127.0.0.1:99999 " + kToken + "\n" +               // no such port
                       "K7QM-2XPA 127.0.0.1:8765 " + kToken + " more\n" +           // a field too many
                       "K7QM-2XPA  127.0.0.1:8765 " + kToken;                       // two spaces
    size_t bad = 0;
    std::vector<online::KeptSeat> seats = online::read_seats(text, &bad);
    EXPECT_EQ(bad, 7u);
    ASSERT_EQ(seats.size(), 2u);
    online::RoomCode code;
    ASSERT_TRUE(online::parse_code("K7QM-2XPA", &code));
    EXPECT_EQ(seats[0].server, "127.0.0.1:8765");
    EXPECT_EQ(seats[1].server, "[::1]:8765");
    EXPECT_EQ(online::show_token(online::kept_token(seats, code, "[::1]:8765")), kToken);
    EXPECT_TRUE(online::is_zero(online::kept_token(seats, code, "127.0.0.1:8766")));
    EXPECT_EQ(online::write_seats(seats),
              std::string("K7QM-2XPA 127.0.0.1:8765 ") + kToken + "\nK7QM-2XPA [::1]:8765 " + kToken + "\n");
}

TEST(SeatsTest, TheNewestTwentyRoomsAreKeptAndARoomJoinedAgainIsTheNewest) {
    std::vector<online::KeptSeat> seats;
    for (uint64_t code = 1; code <= 25; code++) online::keep_seat(&seats, seat(code));
    ASSERT_EQ(seats.size(), online::kSeatsKept);
    EXPECT_EQ(seats.front().code.value, 6u);
    // Room 10 again, with a new token: one line, the newest, the new token.
    online::keep_seat(&seats, seat(10, "127.0.0.1:8765", 9));
    ASSERT_EQ(seats.size(), online::kSeatsKept);
    EXPECT_EQ(seats.back().code.value, 10u);
    EXPECT_EQ(online::kept_token(seats, online::RoomCode{10}, "127.0.0.1:8765")[0], 9);
    EXPECT_EQ(seats.front().code.value, 6u);
    // The same code on another server is another room.
    online::keep_seat(&seats, seat(10, "127.0.0.1:9000", 7));
    EXPECT_EQ(online::kept_token(seats, online::RoomCode{10}, "127.0.0.1:8765")[0], 9);
    EXPECT_EQ(seats.front().code.value, 7u);
}

TEST_F(SeatsFileTest, TheFileIsInTheDataFolderAndABrokenOneIsReadForWhatItHolds) {
    std::string path = online::seats_path();
    EXPECT_EQ(path, folder_.string() + "/vantor/rooms");
    std::string complaint, why;
    EXPECT_TRUE(online::load_seats(path, &complaint).empty());
    EXPECT_EQ(complaint, "");  // no file yet: no rooms, nothing to say
    ASSERT_TRUE(online::save_seat(path, seat(1), &why)) << why;
    ASSERT_TRUE(online::save_seat(path, seat(2), &why)) << why;
    EXPECT_EQ(online::load_seats(path, &complaint).size(), 2u);
    EXPECT_EQ(complaint, "");

    std::ofstream(path, std::ios::app) << "\x01\xff garbage\n";
    EXPECT_EQ(online::load_seats(path, &complaint).size(), 2u);
    EXPECT_EQ(complaint, path + ": 1 line left out, not a room");
    ASSERT_TRUE(online::save_seat(path, seat(3), &why)) << why;
    std::vector<online::KeptSeat> seats = online::load_seats(path, &complaint);
    ASSERT_EQ(seats.size(), 3u);  // the broken line went at the last save
    EXPECT_EQ(complaint, "");

    std::ofstream(path, std::ios::trunc) << std::string(100 * 1024, 'x');
    EXPECT_TRUE(online::load_seats(path, &complaint).empty());
    EXPECT_NE(complaint.find("too large"), std::string::npos) << complaint;
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_TRUE(online::load_seats(path, &complaint).empty());
    EXPECT_NE(complaint, "");
}

// What the desktop game does: keeps its seat at the welcome, and joins with the kept token.
TEST_F(SeatsFileTest, ACreatorWhoQuitsAndJoinsAgainIsBackOnItsSideAndLeadsTheRoom) {
    LocalServer server;
    Doorbell bell;
    auto creator = std::make_unique<Player>(&bell);
    Player second(&bell);
    creator->create(server.address());
    ASSERT_TRUE(pump_until(
        {creator.get()}, bell, [&] { return creator->session().playing(); }, 20s));
    online::RoomCode code = creator->session().code();
    std::string where = online::show_address(server.address()), why;
    ASSERT_TRUE(online::save_seat(online::seats_path(), {code, where, creator->session().token()}, &why)) << why;
    second.join(server.address(), code);
    ASSERT_TRUE(pump_until(
        {creator.get(), &second}, bell, [&] { return second.session().playing(); }, 20s));
    creator.reset();  // the window closed

    std::string complaint;
    online::Token kept = online::kept_token(online::load_seats(online::seats_path(), &complaint), code, where);
    EXPECT_FALSE(online::is_zero(kept));
    Player back(&bell);
    back.join(server.address(), code, kept);
    ASSERT_TRUE(pump_until(
        {&back, &second}, bell, [&] { return back.session().playing() || back.session().lost(); }, 20s));
    EXPECT_EQ(back.session().side(), 0);
    EXPECT_TRUE(back.session().creator());
    EXPECT_TRUE(server.logged("rejoined, side 0"));
}

}  // namespace
