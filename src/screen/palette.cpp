#include "screen/palette.h"

// The palettes come with pixel writing.
void palettes_load() {}
