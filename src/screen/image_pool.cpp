#include "screen/image_pool.h"

// The pool comes with the image records.
void image_pool_reserve() {}
