// Record fields: strings bound to stretches of a random file's record buffer.
#pragma once

#include <cstdint>

// Copies the record buffer into every string bound to a field of the file.
void field_refresh(int32_t file_number);
