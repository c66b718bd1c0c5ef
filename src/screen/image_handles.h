// Making, copying, selecting and freeing images by handle.
#pragma once

#include <cstdint>

int32_t image_handle_new(int32_t width, int32_t height, int32_t mode, int32_t mode_given);
