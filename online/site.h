// The browser build's site as the server serves it, with no sockets: which file a request names, or
// why none; its content type, its ETag and its cache rule; and whether its .gz goes out instead. The
// front (server.cpp) only reads the file it is given and sends it. Nothing outside the site's folder is
// ever named, whatever the path: dot segments, encoded or not, and symbolic links that lead out are
// refused.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace online {

// A request's target longer than this is refused before any file is looked at.
constexpr size_t kMaxSitePath = 1024;
// Every file of the site: the browser may keep it but asks first, with its ETag, so that the page, the
// script, the program and the service worker it holds are always of one build; an unchanged file
// costs a 304.
constexpr const char* kSiteCacheControl = "no-cache";

// What to answer a request for the site.
struct SiteReply {
    int status = 404;            // 200, 304, 400, 404 or 405
    std::filesystem::path file;  // for 200: the file to send, inside the site
    std::string type;            // Content-Type
    std::string etag;            // quoted, as sent
    bool gzip = false;           // file is the .gz beside the named one: Content-Encoding: gzip
    bool varies = false;         // a .gz exists: Vary: Accept-Encoding
    uint64_t size = 0;           // of file
};

class Site {
public:
    // The folder's real path; none when it is not a folder.
    static std::optional<Site> open(const std::filesystem::path& folder);

    // The answer to a request of the method for the target (path and query, as on the request line),
    // with the client's Accept-Encoding and If-None-Match.
    SiteReply resolve(std::string_view method, std::string_view target, std::string_view accept_encoding = {},
                      std::string_view if_none_match = {}) const;
    const std::filesystem::path& root() const { return root_; }

private:
    explicit Site(std::filesystem::path root) : root_(std::move(root)) {}
    std::optional<std::filesystem::path> inside(const std::filesystem::path& relative) const;

    std::filesystem::path root_;
};

// The path a request's target names below the site, percent-decoded, without its query, "/" read as
// "index.html"; none when it is malformed or steps out: a dot segment, an empty one, a backslash, a
// NUL, a bad escape, or longer than kMaxSitePath.
std::optional<std::string> site_path(std::string_view target);
// The Content-Type of a file by its name's ending; the maps' pictures (.map, .tac) are bytes.
std::string content_type(std::string_view name);
// Whether the Accept-Encoding header takes gzip (and does not give it a q of 0).
bool accepts_gzip(std::string_view accept_encoding);
// The site installed beside the program: PROGRAM/../share/vantor/site, when it is a folder.
std::optional<std::filesystem::path> installed_site(const std::filesystem::path& program);

}  // namespace online
