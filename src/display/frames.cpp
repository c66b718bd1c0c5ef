#include "display/frames.h"

// The slots come with the frame builder.
void software_frames_reset() {}
