// The cluster's directory on Redis, through hiredis. We chose Debian's libhiredis over a RESP codec of
// our own on Asio: the calls are few, blocking and off the tick thread, so a synchronous client with
// timeouts is all it takes, and hiredis's parser is well kept and fuzzed where ours would be new.
#include "online/directory.h"

#include <hiredis/hiredis.h>
#include <sys/time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <random>

namespace online {
namespace {

// KEYS[1] the lease; ARGV boot, TTL in ms. Extends the lease if it is ours, takes it if no one holds it.
const char* const renew_lua = R"(
local held = redis.call('GET', KEYS[1])
if held == ARGV[1] or not held then
    redis.call('SET', KEYS[1], ARGV[1], 'PX', ARGV[2])
    return 1
end
return 0)";

const char* const release_lua = R"(
if redis.call('GET', KEYS[1]) == ARGV[1] then redis.call('DEL', KEYS[1]) end
return 1)";

// KEYS[1] the room; ARGV process, boot, the tokens by seat. The epoch is kept if the record is ours.
const char* const put_room_lua = R"(
local boot = redis.call('HGET', KEYS[1], 'boot')
if boot and boot ~= ARGV[2] then return 0 end
local epoch = 1
if boot then epoch = tonumber(redis.call('HGET', KEYS[1], 'epoch')) end
redis.call('DEL', KEYS[1])
redis.call('HSET', KEYS[1], 'owner', ARGV[1], 'boot', ARGV[2], 'epoch', epoch)
for i = 3, #ARGV do redis.call('HSET', KEYS[1], 'seat:' .. (i - 3), ARGV[i]) end
return epoch)";

// The fence of every write to a room: KEYS[1] its record, ARGV[1] the writer's boot.
#define VANTOR_FENCE "if redis.call('HGET', KEYS[1], 'boot') ~= ARGV[1] then return 0 end\n"

const char* const set_token_lua = VANTOR_FENCE "redis.call('HSET', KEYS[1], ARGV[2], ARGV[3]) return 1";
const char* const close_room_lua = VANTOR_FENCE "redis.call('DEL', KEYS[1], KEYS[2], KEYS[3]) return 1";
// KEYS room, snapshot, inputs.
const char* const snapshot_lua = VANTOR_FENCE "redis.call('SET', KEYS[2], ARGV[2]) redis.call('DEL', KEYS[3]) return 1";
const char* const append_lua = VANTOR_FENCE "redis.call('XADD', KEYS[3], '*', 'i', ARGV[2]) return 1";

// KEYS room, snapshot, inputs: {exists, snapshot, {{id, {'i', input}}, ...}}, read at one moment.
const char* const journal_lua = R"(
if redis.call('EXISTS', KEYS[1]) == 0 then return {0} end
return {1, redis.call('GET', KEYS[2]) or '', redis.call('XRANGE', KEYS[3], '-', '+')})";

// KEYS[1] the room: {owner, epoch, alive}, or {} if there is no such room. The lease's key is made
// from the record, so the directory wants one Redis (with replicas), not a Redis Cluster.
const char* const whereabouts_lua = R"(
local r = redis.call('HMGET', KEYS[1], 'owner', 'boot', 'epoch')
if not r[1] then return {} end
local alive = 0
if redis.call('GET', 'vantor:proc:' .. r[1]) == r[2] then alive = 1 end
return {tonumber(r[1]), tonumber(r[3]), alive})";

// KEYS room, the taker's lease; ARGV epoch expected, taker's process, taker's boot. The new epoch;
// -1 no such room, 0 the epoch moved or the owner lives, -2 the taker's own lease is gone.
const char* const take_over_lua = R"(
local r = redis.call('HMGET', KEYS[1], 'owner', 'boot', 'epoch')
if not r[1] then return -1 end
if tonumber(r[3]) ~= tonumber(ARGV[1]) then return 0 end
if redis.call('GET', 'vantor:proc:' .. r[1]) == r[2] then return 0 end
if redis.call('GET', KEYS[2]) ~= ARGV[3] then return -2 end
local epoch = tonumber(r[3]) + 1
redis.call('HSET', KEYS[1], 'owner', ARGV[2], 'boot', ARGV[3], 'epoch', epoch)
return epoch)";

std::string new_boot() {
    std::random_device random;
    std::string boot;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        boot += part;
    }
    return boot;
}

std::string room_key(const std::string& code) { return "vantor:room:" + code; }

// A number written by the scripts; anything else, from a hand in Redis, reads as false.
template <typename Number>
bool number(const std::string& text, Number& out) {
    Number value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return false;
    out = value;
    return true;
}

bool is_integer(const redisReply* reply, long long value) {
    return reply->type == REDIS_REPLY_INTEGER && reply->integer == value;
}

}  // namespace

const char* to_string(Outcome outcome) {
    switch (outcome) {
        case Outcome::ok: return "ok";
        case Outcome::lost: return "lost";
        case Outcome::absent: return "absent";
        case Outcome::unreachable: return "unreachable";
    }
    return "?";
}

void Backoff::failed(Clock::time_point now) {
    wait_ = wait_ == std::chrono::milliseconds{} ? min_ : std::min(wait_ * 2, max_);
    next_ = now + wait_;
}

Directory::Directory(DirectoryConfig config)
    : config_(std::move(config)),
      boot_(new_boot()),
      lease_key_("vantor:proc:" + std::to_string(config_.process)),
      backoff_(config_.backoff_min, config_.backoff_max) {}

Directory::~Directory() {
    if (context_) redisFree(context_);
}

bool Directory::connected() const {
    std::lock_guard lock(mutex_);
    return context_ != nullptr;
}

bool Directory::connect(Clock::time_point now) {
    if (context_) return true;
    if (!backoff_.due(now)) return false;
    auto ms = config_.timeout.count();
    timeval timeout{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
    context_ = redisConnectWithTimeout(config_.host.c_str(), config_.port, timeout);
    if (!context_ || context_->err || redisSetTimeout(context_, timeout) != REDIS_OK) {
        error_ = context_ ? context_->errstr : "out of memory";
        drop(now);
        return false;
    }
    backoff_.succeeded();
    return true;
}

void Directory::drop(Clock::time_point now) {
    if (context_) redisFree(context_);
    context_ = nullptr;
    backoff_.failed(now);
}

// The reply, or none if Redis could not be reached or answered an error (kept in error()).
Directory::Reply Directory::command(const std::vector<std::string>& args) {
    auto now = Clock::now();
    Reply none(nullptr, freeReplyObject);
    if (!connect(now)) return none;
    std::vector<const char*> argv;
    std::vector<size_t> lengths;
    for (auto& arg : args) argv.push_back(arg.data()), lengths.push_back(arg.size());
    Reply reply(static_cast<redisReply*>(
                    redisCommandArgv(context_, static_cast<int>(args.size()), argv.data(), lengths.data())),
                freeReplyObject);
    if (!reply) {
        error_ = context_->errstr;
        drop(now);
        return none;
    }
    if (reply->type == REDIS_REPLY_ERROR) {
        error_.assign(reply->str, reply->len);
        return none;
    }
    return reply;
}

Directory::Reply Directory::script(const char* lua, const std::vector<std::string>& keys,
                                   const std::vector<std::string>& args) {
    std::vector<std::string> all{"EVAL", lua, std::to_string(keys.size())};
    all.insert(all.end(), keys.begin(), keys.end());
    all.insert(all.end(), args.begin(), args.end());
    return command(all);
}

std::string Directory::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

Outcome Directory::acquire(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (spent_) return Outcome::lost;
    auto reply = script(renew_lua, {lease_key_}, {boot_, std::to_string(config_.lease.count())});
    if (!reply) return Outcome::unreachable;
    if (!is_integer(reply.get(), 1)) return Outcome::lost;
    leased_ = true;
    renewed_ = now;
    return Outcome::ok;
}

// A lease missing at renewal within its TTL (by our clock, from the last renewal sent) cannot have
// expired in Redis: Redis lost it (a restart without persistence), and it is taken again. Past the
// TTL it may have expired and its rooms been taken over, so it is lost whatever Redis says now.
Outcome Directory::renew(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (spent_ || !leased_) return Outcome::lost;
    if (now - renewed_ >= config_.lease) {
        spent_ = true;
        return Outcome::lost;
    }
    auto reply = script(renew_lua, {lease_key_}, {boot_, std::to_string(config_.lease.count())});
    if (!reply) return Outcome::unreachable;
    if (!is_integer(reply.get(), 1)) {
        spent_ = true;
        return Outcome::lost;
    }
    renewed_ = now;
    return Outcome::ok;
}

Outcome Directory::release() {
    std::lock_guard lock(mutex_);
    spent_ = true;
    return script(release_lua, {lease_key_}, {boot_}) ? Outcome::ok : Outcome::unreachable;
}

Outcome Directory::put_room(const std::string& code, const std::vector<std::string>& tokens) {
    std::lock_guard lock(mutex_);
    if (spent_) return Outcome::lost;
    std::vector<std::string> args{std::to_string(config_.process), boot_};
    args.insert(args.end(), tokens.begin(), tokens.end());
    auto reply = script(put_room_lua, {room_key(code)}, args);
    if (!reply) return Outcome::unreachable;
    return is_integer(reply.get(), 0) ? Outcome::lost : Outcome::ok;
}

// Runs a fenced write on the room's three keys: `lost` if the room is not ours.
Outcome Directory::fenced(const char* lua, const std::string& code, std::vector<std::string> args) {
    std::lock_guard lock(mutex_);
    if (spent_) return Outcome::lost;  // a process without its lease writes nothing
    auto key = room_key(code);
    args.insert(args.begin(), boot_);
    auto reply = script(lua, {key, key + ":snap", key + ":inputs"}, args);
    if (!reply) return Outcome::unreachable;
    return is_integer(reply.get(), 1) ? Outcome::ok : Outcome::lost;
}

Outcome Directory::set_token(const std::string& code, int seat, const std::string& token) {
    return fenced(set_token_lua, code, {"seat:" + std::to_string(seat), token});
}

Outcome Directory::close_room(const std::string& code) { return fenced(close_room_lua, code, {}); }

Outcome Directory::write_snapshot(const std::string& code, const std::string& snapshot) {
    return fenced(snapshot_lua, code, {snapshot});
}

Outcome Directory::append_input(const std::string& code, const std::string& input) {
    return fenced(append_lua, code, {input});
}

Outcome Directory::room(const std::string& code, RoomRecord& record) {
    std::lock_guard lock(mutex_);
    auto reply = command({"HGETALL", room_key(code)});
    if (!reply || reply->type != REDIS_REPLY_ARRAY) return Outcome::unreachable;
    if (reply->elements == 0) return Outcome::absent;
    record = {};
    for (size_t i = 0; i + 1 < reply->elements; i += 2) {
        std::string field(reply->element[i]->str, reply->element[i]->len);
        std::string value(reply->element[i + 1]->str, reply->element[i + 1]->len);
        if (field == "owner") number(value, record.owner);
        else if (field == "boot") record.boot = value;
        else if (field == "epoch") number(value, record.epoch);
        else if (size_t seat = 64; field.starts_with("seat:") && number(field.substr(5), seat)) {
            if (seat < 64) {
                record.tokens.resize(std::max(record.tokens.size(), seat + 1));
                record.tokens[seat] = value;
            }
        }
    }
    return Outcome::ok;
}

Outcome Directory::journal(const std::string& code, Journal& out) {
    std::lock_guard lock(mutex_);
    auto key = room_key(code);
    auto reply = script(journal_lua, {key, key + ":snap", key + ":inputs"}, {});
    if (!reply || reply->type != REDIS_REPLY_ARRAY || reply->elements == 0) return Outcome::unreachable;
    if (is_integer(reply->element[0], 0)) return Outcome::absent;
    if (reply->elements != 3 || reply->element[1]->type != REDIS_REPLY_STRING) return Outcome::unreachable;
    out = {};
    out.snapshot.assign(reply->element[1]->str, reply->element[1]->len);
    auto* inputs = reply->element[2];
    for (size_t i = 0; inputs->type == REDIS_REPLY_ARRAY && i < inputs->elements; ++i) {
        auto* entry = inputs->element[i];  // {id, {'i', input}}
        if (entry->elements == 2 && entry->element[1]->elements == 2) {
            auto* input = entry->element[1]->element[1];
            out.inputs.emplace_back(input->str, input->len);
        }
    }
    return Outcome::ok;
}

Outcome Directory::advertise(const std::string& address) {
    std::lock_guard lock(mutex_);
    return command({"SET", "vantor:addr:" + std::to_string(config_.process), address}) ? Outcome::ok
                                                                                       : Outcome::unreachable;
}

Outcome Directory::address(int process, std::string& address) {
    std::lock_guard lock(mutex_);
    auto reply = command({"GET", "vantor:addr:" + std::to_string(process)});
    if (!reply) return Outcome::unreachable;
    if (reply->type != REDIS_REPLY_STRING) return Outcome::absent;
    address.assign(reply->str, reply->len);
    return Outcome::ok;
}

Outcome Directory::whereabouts(const std::string& code, Whereabouts& where) {
    std::lock_guard lock(mutex_);
    auto reply = script(whereabouts_lua, {room_key(code)}, {});
    if (!reply || reply->type != REDIS_REPLY_ARRAY) return Outcome::unreachable;
    if (reply->elements != 3) return Outcome::absent;
    where = {static_cast<int>(reply->element[0]->integer), reply->element[1]->integer, reply->element[2]->integer == 1};
    return Outcome::ok;
}

Outcome Directory::take_over(const std::string& code, std::int64_t epoch, std::int64_t& new_epoch) {
    std::lock_guard lock(mutex_);
    auto reply = script(take_over_lua, {room_key(code), lease_key_},
                        {std::to_string(epoch), std::to_string(config_.process), boot_});
    if (!reply || reply->type != REDIS_REPLY_INTEGER) return Outcome::unreachable;
    if (reply->integer == -1) return Outcome::absent;
    if (reply->integer <= 0) return Outcome::lost;
    new_epoch = reply->integer;
    return Outcome::ok;
}

}  // namespace online
