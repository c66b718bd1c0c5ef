// The mouse: event ring and queries.
#pragma once

// Start-up: the first ring entry with buttons 0 and movement 0.
void mouse_ring_init();
