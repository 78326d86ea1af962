// Listing of the working directory.
#pragma once

#include <string>
#include <vector>

namespace plat {

// Names of the regular files in the working directory whose names end in suffix (case-insensitively),
// sorted by name. False with a reason in *error when the directory cannot be read.
bool list_files(const char* suffix, std::vector<std::string>* names, std::string* error);

}  // namespace plat
