// Placeholder: the SDL sound backend.
#include "platform/sound.h"
