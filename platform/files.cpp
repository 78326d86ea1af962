// Directory listing of the working directory.
#include "platform/files.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace plat {

namespace {

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

}  // namespace

bool list_files(const char* suffix, std::vector<std::string>* names, std::string* error) {
    names->clear();
    std::error_code ec;
    std::filesystem::directory_iterator it(".", ec);
    if (ec) {
        if (error) *error = ec.message();
        return false;
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
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

}  // namespace plat
