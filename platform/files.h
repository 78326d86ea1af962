// Listing, reading and writing files: the maps of the working directory, the player's settings.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace plat {

// Names of the regular files in the working directory whose names end in suffix (case-insensitively),
// sorted by name. False with a reason in *error when the directory cannot be read.
bool list_files(const char* suffix, std::vector<std::string>* names, std::string* error);

// The entry of the working directory called name, or else the first one (in name order) whose name
// equals it case-insensitively; name itself when there is neither.
std::string match_file_name(const std::string& name);

enum class ReadStatus { Ok, Missing, Directory, TooLarge, Unreadable };

// Reads a whole regular file of at most max_size bytes into *data. Anything that is not a regular file
// (a folder, a pipe, a device) is not opened.
ReadStatus read_file(const std::string& name, size_t max_size, std::vector<unsigned char>* data);

// Writes a whole file through a temporary beside it, so that a reader never sees half of it, and
// makes its folder first. False with a reason in *error when it cannot.
bool write_file(const std::string& name, const std::string& text, std::string* error);

// Where the player's configuration file of that name belongs: $XDG_CONFIG_HOME/name, else
// $HOME/.config/name; empty when neither is set.
std::string config_path(const std::string& name);
// Where the player's data file or folder of that name belongs: $XDG_DATA_HOME/name, else
// $HOME/.local/share/name; empty when neither is set.
std::string data_path(const std::string& name);

}  // namespace plat
