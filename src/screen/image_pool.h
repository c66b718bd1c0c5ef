// The image record and the pool of 4096 records addressed by handles.
#pragma once

// Start-up: zeroes the pool and reserves slots 0 and 1, which are never used.
void image_pool_reserve();
