#include "display/renderer.h"

// The cached states come with the renderer.
void renderer_state_reset() {}
