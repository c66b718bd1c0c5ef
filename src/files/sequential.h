// Sequential file output and input. Only the start-up step is here; the file layer fills it.
#pragma once

// Start-up: the 32 blanks used by file printing.
void file_print_blanks_init();
