// The site as the server serves it, with no sockets: paths that step out in any spelling, links that
// lead out, the .gz chosen by Accept-Encoding, ETags and 304; the installed site's lookup; the list of
// open rooms read back, and what a hostile server's list cannot do.
#include <gtest/gtest.h>

#include <fstream>

#include "online/lobby.h"
#include "online/rooms.h"
#include "online/site.h"

namespace {

namespace fs = std::filesystem;

class SiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() / ("vantor-site-" + std::to_string(::getpid()));
        fs::remove_all(base_);
        fs::create_directories(base_ / "site" / "maps");
        write(base_ / "secret.txt", "outside");
        write(base_ / "site" / "index.html", "<p>page</p>");
        write(base_ / "site" / "vantor.wasm", std::string(4000, 'w'));
        write(base_ / "site" / "vantor.wasm.gz", "small");
        write(base_ / "site" / "maps" / "world.map", "map");
        fs::create_symlink(base_ / "secret.txt", base_ / "site" / "out.txt");
        fs::create_symlink("../../secret.txt", base_ / "site" / "maps" / "up.txt");
        fs::create_symlink("world.map", base_ / "site" / "maps" / "alias.map");
        site_ = online::Site::open(base_ / "site");
        ASSERT_TRUE(site_);
    }
    void TearDown() override { fs::remove_all(base_); }
    static void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }
    int status(std::string_view target, std::string_view method = "GET") const {
        return site_->resolve(method, target).status;
    }

    fs::path base_;
    std::optional<online::Site> site_;
};

TEST_F(SiteTest, NothingOutsideTheFolderIsNamed) {
    for (const char* target : {"/..", "/../secret.txt", "/maps/../../secret.txt", "/%2e%2e/secret.txt",
                               "/%2E%2e%2fsecret.txt", "/maps/%2e%2e/%2e%2e/secret.txt", "//etc/passwd",
                               "/%2fetc/passwd", "/./index.html", "/maps/..%5c..%5csecret.txt", "/index.html%00.png",
                               "/%zz", "/%2", "http://host/index.html", "secret.txt", "*"})
        EXPECT_EQ(status(target), 400) << target;
    EXPECT_EQ(status("/" + std::string(online::kMaxSitePath, 'a')), 400);
    // Links that lead out are not followed; one that stays inside is.
    EXPECT_EQ(status("/out.txt"), 404);
    EXPECT_EQ(status("/maps/up.txt"), 404);
    EXPECT_EQ(status("/maps/alias.map"), 200);
    EXPECT_EQ(status("/maps"), 404) << "a folder is no file";
    EXPECT_EQ(status("/missing.js"), 404);
    EXPECT_EQ(status("/index.html", "POST"), 405);
    EXPECT_EQ(status("/index.html", "HEAD"), 200);
    // The folder given through a link is the folder itself, and its own prefix names no neighbour.
    fs::create_directories(base_ / "site2");
    write(base_ / "site2" / "x.html", "neighbour");
    fs::create_symlink(base_ / "site2" / "x.html", base_ / "site" / "x.html");
    EXPECT_EQ(status("/x.html"), 404);
}

TEST_F(SiteTest, ThePageIsTheRootAndTypesGoByTheEnding) {
    online::SiteReply page = site_->resolve("GET", "/?join=ABCD");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.file, fs::canonical(base_ / "site" / "index.html"));
    EXPECT_EQ(page.type, "text/html; charset=utf-8");
    EXPECT_EQ(online::site_path("/maps/?x=/.."), "maps/index.html");
    EXPECT_EQ(online::content_type("vantor.wasm"), "application/wasm");
    EXPECT_EQ(online::content_type("vantor.js"), "application/javascript; charset=utf-8");
    EXPECT_EQ(online::content_type("manifest.webmanifest"), "application/manifest+json");
    EXPECT_EQ(online::content_type("ICON-192.PNG"), "image/png");
    EXPECT_EQ(online::content_type("noending"), "application/octet-stream");
}

TEST_F(SiteTest, TheGzipGoesToThoseWhoTakeItAndEtagsAnswer304) {
    online::SiteReply plain = site_->resolve("GET", "/vantor.wasm", "br");
    EXPECT_FALSE(plain.gzip);
    EXPECT_TRUE(plain.varies);
    EXPECT_EQ(plain.size, 4000u);
    online::SiteReply zipped = site_->resolve("GET", "/vantor.wasm", "gzip, deflate, br");
    EXPECT_TRUE(zipped.gzip);
    EXPECT_EQ(zipped.size, 5u);
    EXPECT_EQ(zipped.type, "application/wasm");
    EXPECT_NE(zipped.etag, plain.etag) << "two bodies, two tags";
    EXPECT_FALSE(site_->resolve("GET", "/vantor.wasm", "gzip;q=0, br").gzip);
    EXPECT_TRUE(site_->resolve("GET", "/vantor.wasm", "*").gzip);
    EXPECT_FALSE(site_->resolve("GET", "/index.html", "gzip").varies) << "no .gz beside it";

    EXPECT_EQ(site_->resolve("GET", "/vantor.wasm", "", plain.etag).status, 304);
    EXPECT_EQ(site_->resolve("GET", "/vantor.wasm", "", "\"x\", W/" + plain.etag).status, 304);
    EXPECT_EQ(site_->resolve("GET", "/vantor.wasm", "gzip", plain.etag).status, 200);
    // A new build of the file has a new tag, even at the same size.
    fs::last_write_time(base_ / "site" / "vantor.wasm",
                        fs::last_write_time(base_ / "site" / "vantor.wasm") + std::chrono::seconds(1));
    EXPECT_EQ(site_->resolve("GET", "/vantor.wasm", "", plain.etag).status, 200);
}

TEST_F(SiteTest, TheInstalledSiteIsFoundBesideTheProgram) {
    fs::create_directories(base_ / "prefix" / "bin");
    write(base_ / "prefix" / "bin" / "vantor-server", "");
    EXPECT_FALSE(online::installed_site(base_ / "prefix" / "bin" / "vantor-server"));
    fs::create_directories(base_ / "prefix" / "share" / "vantor" / "site");
    // Through a link to the program, as /proc/self/exe is.
    fs::create_symlink(base_ / "prefix" / "bin" / "vantor-server", base_ / "link");
    EXPECT_EQ(online::installed_site(base_ / "link"), fs::canonical(base_ / "prefix" / "share" / "vantor" / "site"));
}

TEST(MetricsFromTest, TheLoopbackAloneWhenASiteIsServed) {
    online::ServerOptions o;
    EXPECT_TRUE(online::metrics_allowed(o, "192.0.2.7"));
    o.site = "/srv/site";
    EXPECT_FALSE(online::metrics_allowed(o, "192.0.2.7"));
    EXPECT_TRUE(online::metrics_allowed(o, "127.0.0.1"));
    EXPECT_TRUE(online::metrics_allowed(o, "::1"));
    EXPECT_TRUE(online::metrics_allowed(o, "::ffff:127.0.0.1"));
    o.metrics_from = "192.0.2.7";
    EXPECT_TRUE(online::metrics_allowed(o, "192.0.2.7"));
    EXPECT_FALSE(online::metrics_allowed(o, "127.0.0.1"));
    o.metrics_from = "any";
    EXPECT_TRUE(online::metrics_allowed(o, "198.51.100.1"));
}

TEST(RoomsJsonTest, TheListReadsBackAndAHostileOneIsRefusedOrMadeHarmless) {
    online::OpenRoom a{online::RoomCode{0x12345}, "wor\"ld\x1b", 2, 2, 1, true, 75};
    online::OpenRoom b{online::RoomCode{7}, "europe", 1, 3, 0, false, 3};
    auto back = online::parse_rooms_json(online::rooms_json({a, b}));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2u);
    EXPECT_EQ((*back)[0].code, a.code);
    EXPECT_EQ((*back)[0].map, "wor\"ld?") << "no terminal escapes reach the table";
    EXPECT_EQ((*back)[0].seated, 2);
    EXPECT_EQ((*back)[0].watchers, 1);
    EXPECT_TRUE((*back)[0].playing);
    EXPECT_EQ((*back)[0].age, 75);
    EXPECT_FALSE((*back)[1].playing);
    EXPECT_EQ(online::rooms_table(*back).find('\x1b'), std::string::npos);
    EXPECT_TRUE(online::parse_rooms_json(R"({"v":[1,{"x":null}],"rooms":[{"code":"0000-0007","new":2.5e3}]})"));
    for (const char* bad : {"", "{}", "[]", R"({"rooms":[{"code":"nope"}]})", R"({"rooms":[)", R"({"rooms":[]} x)",
                            R"({"rooms":[{"map":"a)", "{\"rooms\":[{\"map\":\"\\u12\"}]}"})
        EXPECT_FALSE(online::parse_rooms_json(bad)) << bad;
    EXPECT_FALSE(online::parse_rooms_json("{\"x\":" + std::string(10000, '[')));
}

}  // namespace
