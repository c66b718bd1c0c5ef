// Chaining to another program: the program that is chained to takes over the directory and the
// screen state that the chaining program left in its chain file, when its command line names one.
#pragma once

// Start of a translated program's main routine. No chain file is written yet, so a program always
// starts afresh.
void chain_receive();
