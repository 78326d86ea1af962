// The rooms a player has been in, kept so that joining one again takes the player's side back: a line
// a room, "CODE HOST:PORT TOKENHEX", oldest first, the newest kSeatsKept rooms. The desktop keeps them
// in the data folder; the browser build's page keeps the same in the browser's storage.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "online/protocol.h"

namespace online {

constexpr size_t kSeatsKept = 20;

struct KeptSeat {
    RoomCode code;
    std::string server;  // "HOST:PORT", as show_address writes it
    Token token{};
};

// 32 lower-case hex digits; parse_token takes either case, and no token of all zeros.
std::string show_token(const Token& token);
bool parse_token(std::string_view text, Token* token);

// The seats of a rooms file's text; a line that does not read is left out and counted in *bad.
std::vector<KeptSeat> read_seats(std::string_view text, size_t* bad);
std::string write_seats(const std::vector<KeptSeat>& seats);
// The seat becomes the newest, in place of any kept for the same room on the same server; the oldest
// go beyond kSeatsKept.
void keep_seat(std::vector<KeptSeat>* seats, const KeptSeat& seat);
// The token kept for that room on that server; all zeros when there is none.
Token kept_token(const std::vector<KeptSeat>& seats, RoomCode code, const std::string& server);

// $XDG_DATA_HOME/vantor/rooms, else $HOME/.local/share/vantor/rooms; empty when neither is set.
std::string seats_path();
// The file's seats. A missing file holds none; one that cannot be read, or has lines that do not
// read, gives what it can and says why in *complaint (empty when all is well).
std::vector<KeptSeat> load_seats(const std::string& path, std::string* complaint);
// Keeps the seat in the file; false with the reason when it cannot be written.
bool save_seat(const std::string& path, const KeptSeat& seat, std::string* why);

}  // namespace online
