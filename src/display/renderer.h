// The OpenGL renderer: draws the newest ready frame over the viewport and plays the render queue.
#pragma once

// Start-up: the cached OpenGL states back to their start values.
void renderer_state_reset();
