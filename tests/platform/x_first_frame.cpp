// Times a program from its launch to its first drawn frame under X: starts the command, waits for
// a top-level window with the given title to be mapped, and polls one pixel of it until that pixel
// is no longer black. The pixel (X, Y) is given for a picture WIDTH wide; a window shown at a
// larger scale is read at the same place of its picture. Prints the milliseconds and the program's pid, then, with --keep, leaves the
// program running; otherwise asks it to end (SIGTERM) and waits for it. The program's own output
// goes to standard error, so that a script reading ours is not held up by a program left running.
// Usage: x_first_frame [--keep] TITLE WIDTH X Y COMMAND [ARG...]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kGiveUpMs = 20000;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool has_title(Display* display, ::Window window, const char* title) {
    char* name = nullptr;
    bool same = XFetchName(display, window, &name) && name && std::strcmp(name, title) == 0;
    if (name) XFree(name);
    return same;
}

// The first window with this title mapped as a child of the root, or 0 when the program ended or
// took too long.
::Window wait_for_window(Display* display, const char* title, pid_t child, Clock::time_point start) {
    while (ms_since(start) < kGiveUpMs) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && has_title(display, event.xmap.window, title)) return event.xmap.window;
        }
        if (waitpid(child, nullptr, WNOHANG) == child) return 0;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return 0;
}

bool pixel_drawn(Display* display, ::Window window, int x, int y) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return false;
    bool drawn = (XGetPixel(image, 0, 0) & 0xFFFFFFul) != 0;
    XDestroyImage(image);
    return drawn;
}

int ignore_x_error(Display* /*display*/, XErrorEvent* /*event*/) { return 0; }

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    bool keep = argc > 1 && std::strcmp(argv[1], "--keep") == 0;
    if (keep) first++;
    if (argc < first + 5) {
        std::fprintf(stderr, "usage: x_first_frame [--keep] TITLE WIDTH X Y COMMAND [ARG...]\n");
        return 2;
    }
    const char* title = argv[first];
    int width = std::atoi(argv[first + 1]);
    int x = std::atoi(argv[first + 2]);
    int y = std::atoi(argv[first + 3]);
    if (width <= 0) {
        std::fprintf(stderr, "x_first_frame: the width must be positive\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x_first_frame: cannot open the display\n");
        return 1;
    }
    // A window that goes away between two requests is not an error here.
    XSetErrorHandler(ignore_x_error);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    Clock::time_point start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execvp(argv[first + 4], argv + first + 4);
        std::perror("x_first_frame: exec");
        _exit(127);
    }
    ::Window window = wait_for_window(display, title, child, start);
    XWindowAttributes attributes;
    if (window && XGetWindowAttributes(display, window, &attributes) && attributes.width >= 2 * width) {
        x *= attributes.width / width;
        y *= attributes.width / width;
    }
    double frame_ms = -1;
    while (window && ms_since(start) < kGiveUpMs) {
        if (pixel_drawn(display, window, x, y)) {
            frame_ms = ms_since(start);
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    if (frame_ms < 0) {
        std::fprintf(stderr, "x_first_frame: no window titled %s drew pixel (%d, %d)\n", title, x, y);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return 1;
    }
    std::printf("%.1f %d\n", frame_ms, static_cast<int>(child));
    std::fflush(stdout);
    XCloseDisplay(display);
    if (keep) return 0;
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    return 0;
}
