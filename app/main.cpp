// The game's entry point on the desktop.
#include "app/app.h"

int main(int /*argc*/, char** /*argv*/) {
    return WinMain(nullptr, nullptr, "", 1);
}
