// The three software frame slots handed from the frame builder to the renderer.
#pragma once

// Start-up: all three slots free, frame number 0, no pixels.
void software_frames_reset();
