// Placeholder: the SDL window backend.
#include "platform/window.h"
