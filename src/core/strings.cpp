#include "core/strings.h"

// The store comes with the strings.
void string_segment_init() {}
void startup_strings_make(const std::string&) {}
