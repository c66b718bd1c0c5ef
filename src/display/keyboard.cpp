#include "display/keyboard.h"

// The rings and the lock-key snapshot come with the keyboard.
void scancode_queue_init() {}
void lock_keys_read() {}
void key_rings_reset() {}
