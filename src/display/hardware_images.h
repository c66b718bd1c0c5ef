// Hardware images (OpenGL textures) and the render queue of hardware drawing.
#pragma once

#include "core/list.h"

extern list* hardware_img_list;
extern list* render_queue;

// Start-up: the guarded hardware-image list (72-byte items) and the render queue (112).
void hardware_lists_create();
