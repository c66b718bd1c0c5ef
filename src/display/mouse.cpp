#include "display/mouse.h"

// The ring comes with the mouse.
void mouse_ring_init() {}
