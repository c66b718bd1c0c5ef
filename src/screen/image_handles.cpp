#include "screen/image_handles.h"

// Images come with the image pool.
int32_t image_handle_new(int32_t, int32_t, int32_t, int32_t) { return 0; }
