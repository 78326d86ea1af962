// The rooms file: its lines, and the file in the data folder.
#include "online/seats.h"

#include <algorithm>
#include <cstdlib>

#include "online/transport.h"
#include "platform/files.h"

namespace online {

namespace {

// Far more than kSeatsKept lines: a larger file is not a rooms file.
constexpr size_t kMaxFile = 64 * 1024;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool same_room(const KeptSeat& a, const KeptSeat& b) { return a.code == b.code && a.server == b.server; }

}  // namespace

std::string show_token(const Token& token) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : token) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

bool parse_token(std::string_view text, Token* token) {
    if (text.size() != 2 * token->size()) return false;
    Token read{};
    for (size_t i = 0; i < read.size(); i++) {
        int high = hex_digit(text[2 * i]), low = hex_digit(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        read[i] = static_cast<uint8_t>(high << 4 | low);
    }
    if (is_zero(read)) return false;
    *token = read;
    return true;
}

std::vector<KeptSeat> read_seats(std::string_view text, size_t* bad) {
    std::vector<KeptSeat> seats;
    *bad = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        // Three fields, one space apart; the server is checked as an address is.
        size_t first = line.find(' '), second = first == std::string_view::npos ? first : line.find(' ', first + 1);
        KeptSeat seat;
        Address address;
        bool good = second != std::string_view::npos && line.find(' ', second + 1) == std::string_view::npos &&
                    parse_code(line.substr(0, first), &seat.code) &&
                    parse_token(line.substr(second + 1), &seat.token) &&
                    parse_address(std::string(line.substr(first + 1, second - first - 1)), &address, nullptr);
        if (!good) {
            (*bad)++;
            continue;
        }
        seat.server = show_address(address);
        keep_seat(&seats, seat);
    }
    return seats;
}

std::string write_seats(const std::vector<KeptSeat>& seats) {
    std::string text;
    for (const KeptSeat& seat : seats)
        text += show_code(seat.code) + " " + seat.server + " " + show_token(seat.token) + "\n";
    return text;
}

void keep_seat(std::vector<KeptSeat>* seats, const KeptSeat& seat) {
    std::erase_if(*seats, [&](const KeptSeat& kept) { return same_room(kept, seat); });
    seats->push_back(seat);
    if (seats->size() > kSeatsKept) seats->erase(seats->begin(), seats->end() - kSeatsKept);
}

Token kept_token(const std::vector<KeptSeat>& seats, RoomCode code, const std::string& server) {
    for (const KeptSeat& seat : seats)
        if (seat.code == code && seat.server == server) return seat.token;
    return Token{};
}

std::string seats_path() { return plat::data_path("vantor/rooms"); }

std::vector<KeptSeat> load_seats(const std::string& path, std::string* complaint) {
    complaint->clear();
    std::vector<unsigned char> data;
    switch (plat::read_file(path, kMaxFile, &data)) {
        case plat::ReadStatus::Ok: break;
        case plat::ReadStatus::Missing: return {};
        case plat::ReadStatus::TooLarge: *complaint = path + " is too large to be a rooms file"; return {};
        default: *complaint = "cannot read " + path; return {};
    }
    size_t bad = 0;
    std::vector<KeptSeat> seats =
        read_seats(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), &bad);
    if (bad) *complaint = path + ": " + std::to_string(bad) + " line" + (bad == 1 ? "" : "s") + " left out, not a room";
    return seats;
}

bool save_seat(const std::string& path, const KeptSeat& seat, std::string* why) {
    std::string ignored;
    std::vector<KeptSeat> seats = load_seats(path, &ignored);
    keep_seat(&seats, seat);
    return plat::write_file(path, write_seats(seats), why);
}

}  // namespace online
