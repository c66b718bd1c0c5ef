// Sequential file output and input.
#pragma once

// Start-up: the 32 blanks used by file printing.
void file_print_blanks_init();
