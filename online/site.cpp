// The site as the server serves it: see site.h.
#include "online/site.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cstdio>

namespace online {

namespace fs = std::filesystem;

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The size and the time of the last change, which change with any new build of the file.
std::string etag_of(const fs::path& file, uint64_t size, bool gzip) {
    std::error_code ec;
    auto changed = fs::last_write_time(file, ec).time_since_epoch();
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(changed).count();
    char text[64];
    std::snprintf(text, sizeof text, "\"%" PRIx64 "-%" PRIx64 "%s\"", size, static_cast<uint64_t>(ns),
                  gzip ? "-gz" : "");
    return text;
}

// Whether If-None-Match names the ETag: a list of them, weak or strong, or "*".
bool matches(std::string_view if_none_match, std::string_view etag) {
    while (!if_none_match.empty()) {
        size_t comma = if_none_match.find(',');
        std::string_view one = trim(if_none_match.substr(0, comma));
        if (one.starts_with("W/")) one.remove_prefix(2);
        if (one == "*" || one == etag) return true;
        if (comma == std::string_view::npos) break;
        if_none_match.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace

std::optional<std::string> site_path(std::string_view target) {
    if (target.size() > kMaxSitePath || !target.starts_with('/')) return std::nullopt;
    target = target.substr(0, target.find_first_of("?#"));
    std::string path;
    for (size_t i = 0; i < target.size(); i++) {
        char c = target[i];
        if (c == '%') {
            int high = i + 2 < target.size() ? hex_digit(target[i + 1]) : -1;
            int low = high >= 0 ? hex_digit(target[i + 2]) : -1;
            if (low < 0) return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        }
        if (c == '\0' || c == '\\') return std::nullopt;
        path += c;
    }
    path.erase(0, 1);
    if (path.empty() || path.back() == '/') path += "index.html";
    // Every segment is a name: no "", ".", "..", and so no way up or to the root.
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string_view segment(path.data() + start, end - start);
        if (segment.empty() || segment == "." || segment == "..") return std::nullopt;
        start = end + 1;
    }
    return path;
}

std::string content_type(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 13> kTypes = {{
        {".html", "text/html; charset=utf-8"},
        {".js", "application/javascript; charset=utf-8"},
        {".mjs", "application/javascript; charset=utf-8"},
        {".wasm", "application/wasm"},
        {".json", "application/json"},
        {".webmanifest", "application/manifest+json"},
        {".css", "text/css; charset=utf-8"},
        {".png", "image/png"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
        {".bmp", "image/bmp"},
        {".txt", "text/plain; charset=utf-8"},
        {".gz", "application/gzip"},
    }};
    std::string low = lower(name);
    for (const auto& [ending, type] : kTypes)
        if (low.ends_with(ending)) return std::string(type);
    return "application/octet-stream";
}

bool accepts_gzip(std::string_view accept_encoding) {
    while (!accept_encoding.empty()) {
        size_t comma = accept_encoding.find(',');
        std::string_view one = accept_encoding.substr(0, comma);
        size_t semicolon = one.find(';');
        std::string coding = lower(trim(one.substr(0, semicolon)));
        if (coding == "gzip" || coding == "*") {
            std::string params = semicolon == std::string_view::npos ? "" : lower(one.substr(semicolon + 1));
            params.erase(std::remove_if(params.begin(), params.end(), [](char c) { return c == ' '; }), params.end());
            // q=0, q=0.0, q=0.000: refused; any other q takes it.
            bool refused = params.starts_with("q=0") && params.find_first_not_of("0.", 2) == std::string::npos;
            if (!refused) return true;
        }
        if (comma == std::string_view::npos) break;
        accept_encoding.remove_prefix(comma + 1);
    }
    return false;
}

std::optional<Site> Site::open(const fs::path& folder) {
    std::error_code ec;
    fs::path root = fs::canonical(folder, ec);
    if (ec || !fs::is_directory(root, ec)) return std::nullopt;
    return Site(root);
}

// The file's real path when it is a regular file inside the site, links followed.
std::optional<fs::path> Site::inside(const fs::path& relative) const {
    std::error_code ec;
    fs::path real = fs::canonical(root_ / relative, ec);
    if (ec) return std::nullopt;
    auto [end, at] = std::mismatch(root_.begin(), root_.end(), real.begin(), real.end());
    if (end != root_.end() || at == real.end()) return std::nullopt;
    if (!fs::is_regular_file(real, ec)) return std::nullopt;
    return real;
}

SiteReply Site::resolve(std::string_view method, std::string_view target, std::string_view accept_encoding,
                        std::string_view if_none_match) const {
    SiteReply reply;
    if (method != "GET" && method != "HEAD") {
        reply.status = 405;
        return reply;
    }
    std::optional<std::string> path = site_path(target);
    if (!path) {
        reply.status = 400;
        return reply;
    }
    std::optional<fs::path> file = inside(*path);
    if (!file) return reply;
    reply.type = content_type(*path);
    // The build leaves a .gz only beside the files it shrinks.
    std::optional<fs::path> gz = path->ends_with(".gz") ? std::nullopt : inside(*path + ".gz");
    reply.varies = gz.has_value();
    if (gz && accepts_gzip(accept_encoding)) {
        file = gz;
        reply.gzip = true;
    }
    std::error_code ec;
    reply.size = fs::file_size(*file, ec);
    if (ec) return reply;
    reply.file = *file;
    reply.etag = etag_of(*file, reply.size, reply.gzip);
    reply.status = matches(if_none_match, reply.etag) ? 304 : 200;
    return reply;
}

std::optional<fs::path> installed_site(const fs::path& program) {
    std::error_code ec;
    fs::path real = fs::canonical(program, ec);
    if (ec) return std::nullopt;
    fs::path site = real.parent_path().parent_path() / "share" / "vantor" / "site";
    if (!fs::is_directory(site, ec)) return std::nullopt;
    return site;
}

}  // namespace online
