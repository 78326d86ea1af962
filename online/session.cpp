// A player's connection on the game's thread: addresses, the inbox, and the pump that plays what
// arrives into the game.
#include "online/session.h"

#include <chrono>
#include <deque>
#include <mutex>

#include "model/equates.h"
#include "platform/window.h"
#include "replay/state.h"

namespace online {

bool parse_address(const std::string& text, Address* address, std::string* why) {
    auto refuse = [&](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    std::string rest = text;
    Address a;
    if (rest.rfind("wss://", 0) == 0) {
        a.tls = true;
        rest = rest.substr(6);
    } else if (rest.rfind("ws://", 0) == 0) {
        rest = rest.substr(5);
    }
    size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        a.path = rest.substr(slash);
        rest = rest.substr(0, slash);
    }
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        size_t close = rest.find(']');
        if (close == std::string::npos) return refuse("an IPv6 address without its ]: " + text);
        a.host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') return refuse("not an address: " + text);
        port = rest.empty() ? "" : rest.substr(1);
    } else {
        size_t colon = rest.rfind(':');
        a.host = rest.substr(0, colon);
        if (colon != std::string::npos) port = rest.substr(colon + 1);
        if (a.host.find(':') != std::string::npos) return refuse("an IPv6 address goes in brackets: " + text);
    }
    if (a.host.empty()) return refuse("no host in " + text);
    if (port.empty()) port = a.tls ? "443" : "80";
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) == 0 ||
        std::stoi(port) > 65535)
        return refuse("not a port: " + port);
    a.port = port;
    *address = a;
    return true;
}

std::string show_address(const Address& address) {
    bool v6 = address.host.find(':') != std::string::npos;
    return (address.tls ? "wss://" : "") + (v6 ? "[" + address.host + "]" : address.host) + ":" + address.port;
}

void Inbox::put(ToClient message) {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.push_back(std::move(message));
}

void Inbox::fail(const std::string& why) {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) return;
    closed_ = true;
    reason_ = why;
}

bool Inbox::take(std::deque<ToClient>* arrived, std::string* why) {
    std::lock_guard<std::mutex> hold(lock_);
    arrived->swap(messages_);
    *why = reason_;
    return closed_;
}

Session::Session(std::unique_ptr<Transport> transport, replay::Deliver deliver)
    : net_(std::move(transport)), deliver_(std::move(deliver)) {}

std::unique_ptr<Session> Session::over(std::unique_ptr<Transport> transport, replay::Deliver deliver) {
    return std::unique_ptr<Session>(new Session(std::move(transport), std::move(deliver)));
}

Session::~Session() = default;

namespace {

// The server's path with the room's part: "/room/new" or "/room/28T5CY4T" under "/".
Address to_room(Address server, const std::string& room) {
    if (server.path.empty() || server.path.back() != '/') server.path += '/';
    server.path += "room/" + room;
    return server;
}

// The room's path part for a join: its code without the dash.
std::string room_name(RoomCode code) {
    std::string name = show_code(code);
    name.erase(4, 1);
    return name;
}

// A rejoin goes to the room's path, which a Join's hello names.
Session::Reopen reopen_at(const Address& server, Wake wake) {
    return [server, wake](RoomCode code, std::vector<uint8_t> hello) {
        return open_transport(to_room(server, room_name(code)), std::move(hello), wake);
    };
}

}  // namespace

std::unique_ptr<Session> Session::create(const Address& server, replay::Deliver deliver, Wake wake, bool open) {
    auto session =
        over(open_transport(to_room(server, "new"), encode(ClientCreate{kProtocolVersion, open}), wake), std::move(deliver));
    session->rejoin_by(reopen_at(server, wake));
    session->wake_ = wake;
    return session;
}

std::unique_ptr<Session> Session::join(const Address& server, RoomCode code, const Token& token,
                                       replay::Deliver deliver, Wake wake) {
    auto hello = encode(ClientJoin{kProtocolVersion, code, token});
    auto session = over(open_transport(to_room(server, room_name(code)), hello, wake), std::move(deliver));
    session->rejoin_by(reopen_at(server, wake));
    session->hello_ = std::move(hello);
    session->wake_ = wake;
    return session;
}

void Session::rejoin_by(Reopen reopen, Clock clock) {
    reopen_ = std::move(reopen);
    clock_ = std::move(clock);
}

int64_t Session::now() const {
    if (clock_) return clock_();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<Session> Session::watch(const Address& server, RoomCode code, replay::Deliver deliver, Wake wake) {
    auto hello = encode(ClientWatch{kProtocolVersion, code});
    auto session = over(open_transport(to_room(server, room_name(code)), hello, wake), std::move(deliver));
    session->rejoin_by(reopen_at(server, wake));
    session->hello_ = std::move(hello);
    session->wake_ = wake;
    return session;
}

void Session::pump() {
    if (lost_) return;
    std::deque<ToClient> arrived;
    std::string why;
    bool closed = net_ && net_->inbox.take(&arrived, &why);
    for (const ToClient& message : arrived) {
        if (lost_) return;
        apply(message);
    }
    if (!moved_to_.empty()) return follow();
    // A refusal's reason says more than the closing that follows it.
    if (closed && !lost_) dropped(reason_.empty() ? why : reason_);
    if (rejoining_) try_again();
}

// A connection that drops with no refusal, once welcomed, is tried again; anything else is the end.
void Session::dropped(const std::string& why) {
    net_.reset();
    if (!welcomed_ || !reopen_ || !reason_.empty()) return lose(why);
    if (!rejoining_) {
        rejoining_ = true;
        rejoin_.start(now());
    }
    dropped_why_ = why;
}

void Session::try_again() {
    int64_t at = now();
    if (rejoin_.over(at)) return lose("no connection for a minute: " + dropped_why_);
    if (net_ || !rejoin_.due(at, static_cast<uint32_t>(random_()))) return;
    // A watcher has no seat to take back: it watches again.
    hello_ = watching_ ? encode(ClientWatch{kProtocolVersion, code_}) : encode(ClientJoin{kProtocolVersion, code_, token_});
    followed_ = false;
    net_ = reopen_(code_, hello_);
}

// The room is on another process of the cluster: the hello goes there, once. A second move is a drop,
// which a rejoin tries again from the start.
void Session::follow() {
    std::string to = std::move(moved_to_);
    moved_to_.clear();
    net_.reset();
    Address address;
    std::string why = "the room moved twice";
    if (!followed_ && !hello_.empty() && parse_address(to, &address, &why)) {
        followed_ = true;
        net_ = open_transport(address, hello_, wake_);
        return;
    }
    dropped(why);
    if (rejoining_) try_again();
}

void Session::apply(const ToClient& message) {
    if (const auto* welcome = std::get_if<ServerWelcome>(&message)) {
        welcomed_ = true;
        rejoining_ = false;
        followed_ = false;
        code_ = welcome->code;
        side_ = welcome->side;
        creator_ = welcome->creator;
        token_ = welcome->token;
        watching_ = welcome->watching;
        site_ = welcome->site;
    } else if (const auto* snapshot = std::get_if<ServerSnapshot>(&message)) {
        std::string why;
        if (!replay::restore_snapshot(snapshot->bytes.data(), snapshot->bytes.size(), &why))
            return lose("the room's game cannot be played here: " + why);
        playing_ = true;
        tick_ = snapshot->tick;
        snapshots_++;
    } else if (const auto* frame = std::get_if<ServerFrame>(&message)) {
        if (!playing_) return;
        if (frame->tick != tick_ + 1) return lose("the server's frames came out of order");
        for (const GameInput& input : frame->inputs) {
            plat::Message msg = to_message(input);
            deliver_(msg.message, msg.wParam, msg.lParam);
        }
        deliver_(plat::WM_TIMER, TIMER_ID, 0);
        tick_ = frame->tick;
        if (tick_ % replay::kCheckpointTicks == 0) {
            Digest& kept = digests_[tick_ / replay::kCheckpointTicks % kKeptDigests];
            kept.tick = tick_;
            net_->send(encode(ClientHash{tick_, replay::state_hash_pieces(&kept.pieces)}));
        }
    } else if (const auto* ask = std::get_if<ServerAskDigest>(&message)) {
        const Digest& kept = digests_[ask->tick / replay::kCheckpointTicks % kKeptDigests];
        if (kept.tick == ask->tick && ask->tick != 0) net_->send(encode(ClientDigest{kept.tick, kept.pieces}));
    } else if (const auto* refuse = std::get_if<ServerRefuse>(&message)) {
        reason_ = refuse->reason;
    } else if (const auto* moved = std::get_if<ServerMoved>(&message)) {
        moved_to_ = moved->address;
    } else if (const auto* roster = std::get_if<ServerRoster>(&message)) {
        roster_ = *roster;
        rosters_++;
    }
}

void Session::send_input(uint32_t message, uint32_t wParam, int32_t lParam) {
    if (lost_ || !playing_) return;
    ClientInput m;
    bool player =
        to_input(message, wParam, lParam, 0, 0, &m.input) &&
        (m.input.kind == InputKind::kPress || m.input.kind == InputKind::kRelease || m.input.kind == InputKind::kKey);
    if (player && net_ && !rejoining_) net_->send(encode(m));
}

void Session::lose(const std::string& why) {
    lost_ = true;
    rejoining_ = false;
    reason_ = why;
    if (net_) net_->close();
}

}  // namespace online
