// The window shell: the entry point and the window procedure.
#pragma once

#include <cstdint>

#include "platform/window.h"

// Opens the window and runs the game until the window is closed. Returns the quit code, or 1
// when no window could be opened.
int WinMain(void* hThisInst, void* hPrevInst, const char* lpszArgs, int nWinMode);
int32_t WindowFunction(plat::Window* hwnd, uint32_t message, uint32_t wParam, int32_t lParam);
void misctext();

// The start-up part of WinMain: registers the class, opens and shows the window, starts the game.
// False when there is no window; the headless driver calls it and then feeds the messages itself.
bool openwindow(void* hThisInst, int nWinMode);
