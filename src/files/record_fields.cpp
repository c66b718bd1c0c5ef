#include "files/record_fields.h"

// The field statement binds strings; until it does, no file has bound strings to refresh.
void field_refresh(int32_t) {}
