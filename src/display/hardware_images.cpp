#include "display/hardware_images.h"

list* hardware_img_list = nullptr;
list* render_queue = nullptr;

void hardware_lists_create() {
    hardware_img_list = list_new_locked(72);
    render_queue = list_new(112);
}
