// The control thread: turns of about 16 ms (BIOS ticks, frames, lock keys) and the shutdown.
#pragma once

void control_thread_entry();
