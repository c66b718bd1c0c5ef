#include "files/sequential.h"

// The blanks come with file printing.
void file_print_blanks_init() {}
