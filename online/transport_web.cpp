// The browser build's transport: the browser's WebSocket. Its events come on the game's thread, in the
// browser's event loop, while the message loop waits there (Asyncify); each queues what it brings and
// rings the wake, which posts the window a message.
#include <emscripten/websocket.h>

#include <deque>

#include "online/transport.h"

namespace online {

namespace {

class WebTransport : public Transport {
public:
    WebTransport(const Address& address, std::vector<uint8_t> hello, Wake wake)
        : hello_(std::move(hello)), wake_(std::move(wake)) {
        std::string url = (address.tls ? "" : "ws://") + show_address(address) + address.path;
        EmscriptenWebSocketCreateAttributes attributes;
        emscripten_websocket_init_create_attributes(&attributes);
        attributes.url = url.c_str();
        attributes.protocols = nullptr;
        EMSCRIPTEN_WEBSOCKET_T socket = emscripten_websocket_new(&attributes);
        if (socket <= 0) {
            fail("this browser cannot open a WebSocket to " + url);
            return;
        }
        socket_ = socket;
        emscripten_websocket_set_onopen_callback(socket_, this, on_open);
        emscripten_websocket_set_onmessage_callback(socket_, this, on_message);
        emscripten_websocket_set_onerror_callback(socket_, this, on_error);
        emscripten_websocket_set_onclose_callback(socket_, this, on_close);
    }

    // The socket's handlers go with it, so that none calls back into a transport that is gone.
    ~WebTransport() override { release(); }

    void send(std::vector<uint8_t> bytes) override {
        if (!socket_) return;
        if (!open_) {
            waiting_.push_back(std::move(bytes));
            return;
        }
        emscripten_websocket_send_binary(socket_, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    void close() override { fail("closed"); }

private:
    static EM_BOOL on_open(int, const EmscriptenWebSocketOpenEvent*, void* data) {
        auto* self = static_cast<WebTransport*>(data);
        self->open_ = true;
        self->send(std::move(self->hello_));
        while (!self->waiting_.empty()) {
            self->send(std::move(self->waiting_.front()));
            self->waiting_.pop_front();
        }
        return EM_TRUE;
    }

    static EM_BOOL on_message(int, const EmscriptenWebSocketMessageEvent* event, void* data) {
        auto* self = static_cast<WebTransport*>(data);
        std::optional<ToClient> message;
        if (!event->isText && event->numBytes <= kMaxMessage) message = decode_to_client(event->data, event->numBytes);
        if (!message) {
            self->fail("the server sent a message this game cannot read");
            return EM_TRUE;
        }
        self->inbox.put(std::move(*message));
        if (self->wake_) self->wake_();
        return EM_TRUE;
    }

    // The browser says no more about an error than that there was one; the close that follows it
    // comes too, and the first reason is kept.
    static EM_BOOL on_error(int, const EmscriptenWebSocketErrorEvent*, void* data) {
        auto* self = static_cast<WebTransport*>(data);
        self->fail(self->open_ ? "the connection to the server broke" : "cannot connect to the server");
        return EM_TRUE;
    }

    static EM_BOOL on_close(int, const EmscriptenWebSocketCloseEvent*, void* data) {
        auto* self = static_cast<WebTransport*>(data);
        self->fail(self->open_ ? "the server closed the connection" : "cannot connect to the server");
        return EM_TRUE;
    }

    void fail(const std::string& why) {
        release();
        inbox.fail(why);
        if (wake_) wake_();
    }

    void release() {
        if (!socket_) return;
        // The browser closes later; by then the socket has no handlers to call back into this.
        emscripten_websocket_close(socket_, 1000, nullptr);
        emscripten_websocket_delete(socket_);
        socket_ = 0;
    }

    std::vector<uint8_t> hello_;
    Wake wake_;
    EMSCRIPTEN_WEBSOCKET_T socket_ = 0;
    bool open_ = false;
    std::deque<std::vector<uint8_t>> waiting_;
};

}  // namespace

std::unique_ptr<Transport> open_transport(const Address& address, std::vector<uint8_t> hello, Wake wake) {
    return std::make_unique<WebTransport>(address, std::move(hello), std::move(wake));
}

}  // namespace online
