// The game's entry point on the desktop: the player's settings live in the usual configuration folder.
#include "app/app.h"
#include "init/init.h"
#include "platform/files.h"

int main(int /*argc*/, char** /*argv*/) {
    settingsfile(plat::config_path("vantor/settings"));
    return WinMain(nullptr, nullptr, "", 1);
}
