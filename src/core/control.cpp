#include "core/control.h"

// The turns and the shutdown sequence come with the control thread.
void control_thread_entry() {}
