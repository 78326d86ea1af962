// The lobby on the loopback: see loopback.h.
#include "online/loopback.h"

namespace online {

LoopConnection::LoopConnection(Loopback& loop, const std::string& address) : loop_(loop) {
    id_ = loop.lobby_.connect(this, address, address + ":" + std::to_string(loop.ports_++), loop.now_);
}

LoopConnection::~LoopConnection() {
    if (!closed_) loop_.lobby_.gone(id_, "it closed the connection", loop_.now_);
}

void LoopConnection::send_message(const std::vector<uint8_t>& bytes) {
    if (!closed_ && !closing_) loop_.lobby_.receive(id_, bytes.data(), bytes.size(), loop_.now_);
}

void LoopConnection::ping() {
    if (!closed_ && !closing_) loop_.lobby_.frame(id_, loop_.now_);
}

std::optional<ToClient> LoopConnection::next() {
    if (waiting_.empty()) {
        // A refused connection closes once its client has read the reason.
        if (closing_ && !closed_) {
            closed_ = true;
            loop_.lobby_.gone(id_, "refused", loop_.now_);
        }
        return std::nullopt;
    }
    Bytes bytes = std::move(waiting_.front());
    waiting_.pop_front();
    taken_ += bytes->size();
    return decode_to_client(bytes->data(), bytes->size());
}

std::string LoopConnection::refusal() {
    std::string reason;
    for (std::optional<ToClient> m = next(); m; m = next())
        if (const auto* r = std::get_if<ServerRefuse>(&*m)) reason = r->reason;
    return reason;
}

void LoopConnection::send(Bytes bytes) {
    if (!closed_ && !closing_) waiting_.push_back(std::move(bytes));
}

void LoopConnection::drop() {
    closed_ = true;
    waiting_.clear();
}

size_t LoopConnection::queued() const {
    size_t n = 0;
    for (const Bytes& b : waiting_) n += b->capacity() + sizeof(Bytes);
    return n;
}

namespace {}  // namespace

// A session's transport: what the lobby sends is read at once, into the inbox; what the session sends
// reaches the lobby when the clock next moves, so that the lobby never runs inside the session's pump,
// with the session's game entered.
class LoopTransport : public Transport {
public:
    LoopTransport(Loopback& loop, const std::string& address, const std::vector<uint8_t>& hello)
        : loop_(loop), end_(*this), address_(address) {
        id_ = loop.lobby().connect(&end_, address, address + ":session", loop.now());
        loop.transports_.insert(this);
        send(hello);
    }
    ~LoopTransport() override {
        loop_.transports_.erase(this);
        close();
    }
    void send(std::vector<uint8_t> bytes) override {
        if (!closed_ && !end_.closing) outbox_.push_back(std::move(bytes));
    }
    void close() override {
        if (closed_) return;
        closed_ = true;
        inbox.fail("closed");
        loop_.lobby().gone(id_, "it closed the connection", loop_.now());
    }
    // The network between them breaks: each end hears of it as of a broken connection.
    void cut() {
        if (closed_) return;
        end_.drop();
        loop_.lobby().gone(id_, "the connection broke", loop_.now());
    }
    const std::string& address() const { return address_; }
    void flush() {
        std::deque<std::vector<uint8_t>> out;
        out.swap(outbox_);
        for (const auto& bytes : out)
            if (!closed_ && !end_.closing) loop_.lobby().receive(id_, bytes.data(), bytes.size(), loop_.now());
    }

private:
    // The lobby's end.
    struct End : Link {
        explicit End(LoopTransport& owner) : t(owner) {}
        void send(Bytes bytes) override {
            if (t.closed_ || closing) return;
            if (std::optional<ToClient> m = decode_to_client(bytes->data(), bytes->size())) t.inbox.put(std::move(*m));
            else t.inbox.fail("the server sent what is not a message");
        }
        void close() override {
            closing = true;
            t.inbox.fail("closed");
        }
        void drop() override {
            t.closed_ = true;
            t.inbox.fail("the connection broke");
        }
        size_t queued() const override { return 0; }
        uint64_t taken() const override { return 0; }
        LoopTransport& t;
        bool closing = false;
    };
    Loopback& loop_;
    End end_;
    std::string address_;
    uint64_t id_ = 0;
    bool closed_ = false;
    std::deque<std::vector<uint8_t>> outbox_;
};

Loopback::Loopback(ServerOptions options, GameHooks hooks, std::shared_ptr<Allowances> allowances)
    : lobby_(std::move(options), std::move(hooks), std::move(allowances)) {}

void Loopback::run_for(Millis ms) {
    std::vector<LoopTransport*> sending(transports_.begin(), transports_.end());
    for (LoopTransport* t : sending)
        if (transports_.count(t)) t->flush();
    Millis end = now_ + ms;
    for (Millis next = lobby_.advance(now_); next <= end; next = lobby_.advance(now_)) now_ = std::max(now_, next);
    now_ = end;
}

void Loopback::cut(const std::string& address) {
    for (LoopTransport* t : transports_)
        if (t->address() == address) t->cut();
}

std::unique_ptr<LoopConnection> Loopback::connect(const std::string& address) {
    return std::make_unique<LoopConnection>(*this, address);
}

std::unique_ptr<Transport> Loopback::open(std::vector<uint8_t> hello, const std::string& address) {
    return std::make_unique<LoopTransport>(*this, address, hello);
}

}  // namespace online
