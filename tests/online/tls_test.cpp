// wss:// between the desktop's transport and the server, with certificates the real openssl command
// makes for each run: a client trusts only the authority SSL_CERT_FILE names, and the server takes a
// renewed certificate without a restart.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "harness.h"

namespace {

using namespace online_test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A folder of its own with an authority NAME.ca.pem and a certificate for 127.0.0.1 that it signed,
// NAME.pem and NAME.key.
class Certificates {
public:
    Certificates() {
        char pattern[] = "/tmp/vantor-tls-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        dir_ = pattern;
        std::ofstream(dir_ / "san.ext") << "subjectAltName=IP:127.0.0.1\n";
    }
    ~Certificates() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    bool make(const std::string& name) {
        std::string n = (dir_ / name).string(), key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        std::string command =
            "(cd " + dir_.string() + " && openssl req -x509" + key + " -keyout " + n + ".ca.key -out " + n +
            ".ca.pem -days 2 -subj /CN=test-ca-" + name + " && openssl req" + key + " -keyout " + n + ".key -out " + n +
            ".csr -subj /CN=127.0.0.1 && openssl x509 -req -in " + n + ".csr -CA " + n + ".ca.pem -CAkey " + n +
            ".ca.key -CAcreateserial -days 2 -extfile san.ext -out " + n + ".pem) >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }
    std::string path(const std::string& file) const { return (dir_ / file).string(); }
    // Puts the file in place under a new name at once, as a renewal does.
    void install(const std::string& from, const std::string& to) const {
        fs::copy_file(path(from), path(to + ".new"), fs::copy_options::overwrite_existing);
        fs::rename(path(to + ".new"), path(to));
    }

private:
    fs::path dir_;
};

// Connects as the creator of a new room over wss with that authority trusted: whether it was
// welcomed within the wait, with the reason when it was not.
bool plays_with(const online::Address& server, const std::string& authority, std::string* why) {
    setenv("SSL_CERT_FILE", authority.c_str(), 1);
    Doorbell bell;
    Player player(&bell);
    player.create(server);
    bool welcomed = pump_until(
        {&player}, bell, [&] { return player.session().welcomed() || player.session().lost(); }, 15s);
    if (why) *why = player.session().reason();
    return welcomed && player.session().welcomed();
}

TEST(TlsTest, AClientTrustsOnlyItsAuthorityAndTheServerTakesARenewalWithoutARestart) {
    Certificates files;
    ASSERT_TRUE(files.make("first") && files.make("second")) << "the openssl command failed";
    files.install("first.pem", "cert.pem");
    files.install("first.key", "key.pem");
    online::ServerOptions options;
    options.tls_cert = files.path("cert.pem");
    options.tls_key = files.path("key.pem");
    options.rooms_per_address = options.creates_per_minute = 100;
    options.upgrade_seconds = 2;
    LocalServer server(options);
    online::Address address = server.address();
    address.tls = true;

    std::string why;
    EXPECT_FALSE(plays_with(address, files.path("second.ca.pem"), &why));
    EXPECT_NE(why.find("certificate of 127.0.0.1:" + address.port + " is refused"), std::string::npos) << why;
    EXPECT_TRUE(plays_with(address, files.path("first.ca.pem"), &why)) << why;
    online::Address plain = server.address();
    EXPECT_FALSE(plays_with(plain, files.path("first.ca.pem"), nullptr));

    // A client that starts no handshake is closed at the upgrade's deadline, as a slow upgrade is.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{AF_INET, htons(static_cast<uint16_t>(std::stoi(address.port))), {htonl(INADDR_LOOPBACK)}, {}};
    timeval wait{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    char byte = 0;
    EXPECT_EQ(recv(fd, &byte, 1, 0), 0) << "not closed within 10 s";
    close(fd);

    // The files are looked at on an accept, every few seconds at most: connections until it says so.
    auto connects_until = [&](const std::string& line, const std::string& authority) {
        for (auto end = std::chrono::steady_clock::now() + 15s; std::chrono::steady_clock::now() < end;) {
            if (!plays_with(address, authority, &why)) return false;
            for (const std::string& logged : server.log())
                if (logged.find(line) != std::string::npos) return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
    };
    // A broken file keeps the certificate in use; a good one is taken for the connections after it.
    std::ofstream(files.path("cert.pem")) << "not a certificate\n";
    EXPECT_TRUE(connects_until("tls: keeping the certificate in use", files.path("first.ca.pem"))) << why;
    files.install("second.pem", "cert.pem");
    files.install("second.key", "key.pem");
    EXPECT_FALSE(connects_until("tls: read the certificate", files.path("first.ca.pem")));
    EXPECT_TRUE(plays_with(address, files.path("second.ca.pem"), &why)) << why;
    unsetenv("SSL_CERT_FILE");
}

}  // namespace
