// Listing, reading and writing files: the maps of the working directory, the player's settings.
#include "platform/files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace plat {

namespace {

namespace fs = std::filesystem;

bool ends_with_nocase(const std::string& name, const char* suffix) {
    size_t n = std::strlen(suffix);
    if (name.size() < n) return false;
    for (size_t i = 0; i < n; i++) {
        unsigned char a = static_cast<unsigned char>(name[name.size() - n + i]);
        unsigned char b = static_cast<unsigned char>(suffix[i]);
        if (std::tolower(a) != std::tolower(b)) return false;
    }
    return true;
}

bool equal_nocase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ends_with_nocase(a, b.c_str());
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool list_files(const char* suffix, std::vector<std::string>* names, std::string* error) {
    names->clear();
    std::error_code ec;
    fs::directory_iterator it(".", ec);
    if (ec) {
        if (error) *error = ec.message();
        return false;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::string name = it->path().filename().string();
        std::error_code type_ec;
        if (!it->is_regular_file(type_ec)) continue;
        if (ends_with_nocase(name, suffix)) names->push_back(name);
    }
    if (ec) {
        if (error) *error = ec.message();
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
}

std::string match_file_name(const std::string& name) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(name, ec))) return name;
    std::vector<std::string> matches;
    fs::directory_iterator it(".", ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string entry = it->path().filename().string();
        if (equal_nocase(entry, name)) matches.push_back(entry);
    }
    if (matches.empty()) return name;
    return *std::min_element(matches.begin(), matches.end());
}

ReadStatus read_file(const std::string& name, size_t max_size, std::vector<unsigned char>* data) {
    data->clear();
    std::error_code ec;
    fs::file_status st = fs::status(name, ec);
    if (st.type() == fs::file_type::not_found) return ReadStatus::Missing;
    if (st.type() == fs::file_type::directory) return ReadStatus::Directory;
    // Opening a pipe would wait for a writer that never comes.
    if (ec || st.type() != fs::file_type::regular) return ReadStatus::Unreadable;
    uintmax_t size = fs::file_size(name, ec);
    if (ec) return ReadStatus::Unreadable;
    if (size > max_size) return ReadStatus::TooLarge;
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(name.c_str(), "rb"));
    if (!f) return ReadStatus::Unreadable;
    data->resize(static_cast<size_t>(size));
    size_t got = size ? std::fread(data->data(), 1, data->size(), f.get()) : 0;
    // A file cut short since it was measured.
    if (got != data->size()) {
        data->clear();
        return ReadStatus::Unreadable;
    }
    return ReadStatus::Ok;
}

bool write_file(const std::string& name, const std::string& text, std::string* error) {
    std::error_code ec;
    fs::path path(name);
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    if (ec) {
        if (error) *error = ec.message();
        return false;
    }
    std::string temporary = name + ".new";
    {
        std::unique_ptr<std::FILE, FileCloser> f(std::fopen(temporary.c_str(), "wb"));
        bool written = f && std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
        // A full disk may only show when the data is flushed.
        if (!written || std::fflush(f.get()) != 0) {
            if (error) *error = std::strerror(errno);
            f.reset();
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, name, ec);
    if (ec) {
        if (error) *error = ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

namespace {

// $variable/name, else $HOME/under/name; an empty or relative $variable is to be ignored.
std::string xdg_path(const char* variable, const char* under, const std::string& name) {
    const char* xdg = std::getenv(variable);
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/" + name;
    const char* home = std::getenv("HOME");
    if (home && home[0]) return std::string(home) + "/" + under + "/" + name;
    return std::string();
}

}  // namespace

std::string config_path(const std::string& name) { return xdg_path("XDG_CONFIG_HOME", ".config", name); }

std::string data_path(const std::string& name) { return xdg_path("XDG_DATA_HOME", ".local/share", name); }

}  // namespace plat
