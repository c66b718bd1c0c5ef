#include "screen/hardware_images.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "core/alerts.h"
#include "core/errors.h"
#include "screen/frame_handover.h"

list* hardware_img_list = nullptr;
list* render_queue = nullptr;

namespace {

struct hardware_state {
    std::atomic<int64_t> serial_next{1};
};
hardware_state hw;

// Two threads write the queue (the program thread queues and prunes, the main thread plays and
// prunes), so its links, its four ids and its list are only touched under this lock.
struct queue_state {
    std::mutex lock;
    render_queue_ids ids;
};
queue_state queue;

render_command* command_at(int32_t id) { return static_cast<render_command*>(list_get(render_queue, id)); }

uint32_t* pixels_copy(int32_t w, int32_t h, const uint32_t* pixels) {
    size_t bytes = w > 0 && h > 0 ? static_cast<size_t>(w) * static_cast<size_t>(h) * 4 : 0;
    auto* copy = static_cast<uint32_t*>(std::malloc(bytes ? bytes : 4));
    if (!copy) error_raise(error_out_of_memory);
    if (copy && bytes && pixels) std::memcpy(copy, pixels, bytes);
    return copy;
}

int64_t image_serial(int32_t id) {
    hardware_img* img = id > 0 ? hardware_img_at(id) : nullptr;
    return img ? img->serial : 0;
}

bool draws(int32_t kind) {
    return kind == render_rect_copy || kind == render_triangle_2d || kind == render_triangle_3d ||
           kind == render_depth_clear;
}

// Appends under the queue lock; frame, links and done are set here.
int32_t command_append_locked(render_command command) {
    int32_t id = list_add(render_queue);
    auto* slot = command_at(id);
    command.frame = frame_number_next.load();
    command.next = 0;
    command.done = 0;
    command.skip = 0;
    *slot = command;
    if (auto* last = command_at(queue.ids.last)) last->next = id;
    queue.ids.last = id;
    if (queue.ids.first == 0) queue.ids.first = id;
    return id;
}

void prune_locked() {
    if (queue.ids.oldest_kept == 0 || queue.ids.last_rendered == 0) return;
    render_command* last_rendered = command_at(queue.ids.last_rendered);
    if (!last_rendered) return;
    int64_t limit = last_rendered->frame;
    int32_t k = queue.ids.oldest_kept;
    for (;;) {
        render_command* kept = command_at(k);
        if (!kept || kept->next == 0) break;
        int32_t n = kept->next;
        render_command* successor = command_at(n);
        if (!successor || successor->frame >= limit) break;
        if (kept->kind == render_free_requested && kept->skip == 0) {
            render_command free_now;
            free_now.kind = render_free;
            free_now.source = kept->source;
            free_now.source_serial = kept->source_serial;
            command_append_locked(free_now);
        }
        queue.ids.oldest_kept = n;
        list_remove(render_queue, k);
        k = n;
    }
}

// The first command the renderer has not played yet (0 for none); false when the last one it
// played is no longer in the list.
bool first_unplayed_locked(int32_t& id) {
    id = queue.ids.first;
    if (queue.ids.last_rendered == 0) return true;
    render_command* last = command_at(queue.ids.last_rendered);
    id = last ? last->next : 0;
    return last != nullptr;
}

void visit_locked(int32_t id, render_command* command) {
    command->done = 1;
    queue.ids.last_rendered = id;
    if (queue.ids.oldest_kept == 0) queue.ids.oldest_kept = id;
}

// What a broken walk shows, gathered under the lock and shown after it.
struct walk_alerts {
    bool last_missing = false;
    bool command_missing = false;
    int32_t frame_low = 0;
    int32_t oldest_frame_low = 0;
    int32_t missing_id = 0;
};

void command_missing_locked(render_queue_walk& walk, walk_alerts& alerts, int32_t id) {
    alerts.command_missing = true;
    alerts.frame_low = static_cast<int32_t>(walk.frame);
    render_command* oldest = command_at(queue.ids.oldest_kept);
    alerts.oldest_frame_low = oldest ? static_cast<int32_t>(oldest->frame) : 0;
    alerts.missing_id = id;
    walk.stopped = true;
}

void walk_alerts_show(const walk_alerts& alerts) {
    if (alerts.last_missing) alert_text("Rendering: Last HGC is NULL!");
    if (alerts.command_missing) {
        alert_number(alerts.frame_low);
        alert_number(alerts.oldest_frame_low);
        alert_number(alerts.missing_id);
        alert_text("Renderer: Command does not exist.");
    }
}

// First pass: the commands of frames before R. Those aimed at images are played (and frees done);
// those aimed at a screen layer are too late and dropped.
void older_frames_walk_locked(render_queue_walk& walk, walk_alerts& alerts) {
    int32_t id = 0;
    if (!first_unplayed_locked(id)) {
        alerts.last_missing = true;
        walk.stopped = true;
        return;
    }
    while (id != 0) {
        render_command* command = command_at(id);
        if (!command) {
            command_missing_locked(walk, alerts, id);
            return;
        }
        if (command->frame >= walk.frame) break;
        if (command->skip == 0 &&
            (command->kind == render_free || (draws(command->kind) && command->destination > 0)))
            walk.batch.push_back(*command);
        visit_locked(id, command);
        id = command->next;
    }
    walk.resume = id;
}

void frame_walk_locked(render_queue_walk& walk, walk_alerts& alerts, int32_t target, bool first) {
    for (int32_t id = walk.resume; id != 0;) {
        render_command* command = command_at(id);
        if (!command) {
            command_missing_locked(walk, alerts, id);
            return;
        }
        if (command->frame != walk.frame) break;
        if (command->skip == 0) {
            bool play = command->kind == render_free
                            ? first
                            : draws(command->kind) &&
                                  (command->destination == target || (command->destination > 0 && first));
            if (play) walk.batch.push_back(*command);
        }
        visit_locked(id, command);
        id = command->next;
    }
}

}  // namespace

hardware_img* hardware_img_at(int32_t id) {
    return id > 0 && hardware_img_list ? static_cast<hardware_img*>(list_get(hardware_img_list, id)) : nullptr;
}

void hardware_lists_create() {
    hardware_img_list = list_new_locked(static_cast<int32_t>(sizeof(hardware_img)));
    render_queue = list_new(static_cast<int32_t>(sizeof(render_command)));
}

void hardware_lists_reset() {
    std::lock_guard<std::mutex> guard(queue.lock);
    if (hardware_img_list) {
        for (int32_t id = 1; id <= hardware_img_list->highest_id.load(); ++id)
            if (auto* img = hardware_img_at(id)) std::free(img->kept_pixels);
        list_destroy(hardware_img_list);
    }
    if (render_queue) list_destroy(render_queue);
    queue.ids = {};
    hardware_lists_create();
}

int32_t hardware_img_new(int32_t width, int32_t height, uint32_t* pixels, int32_t flags) {
    int32_t id = list_add(hardware_img_list);
    auto* img = new (list_get(hardware_img_list, id)) hardware_img;
    img->width = width;
    img->height = height;
    img->serial = hw.serial_next.fetch_add(1);
    img->internal = (flags & hardware_img_internal) ? 1 : 0;
    if (flags & hardware_img_deferred)
        img->kept_pixels = (flags & hardware_img_copy) ? pixels_copy(width, height, pixels) : pixels;
    std::atomic_ref<int32_t>(img->valid).store(1, std::memory_order_release);
    return id;
}

hardware_img* hardware_img_from_handle(int32_t handle) {
    if (handle < hardware_img_handle_base || handle >= hardware_img_handle_end || !hardware_img_list) return nullptr;
    hardware_img* img = hardware_img_at(hardware_img_id_from_handle(handle));
    if (!img || std::atomic_ref<int32_t>(img->valid).load(std::memory_order_acquire) == 0) return nullptr;
    return img->internal ? nullptr : img;
}

int32_t hardware_img_id_from_handle(int32_t handle) { return handle - hardware_img_handle_base; }

bool hardware_img_free_request(int32_t handle) {
    hardware_img* img = hardware_img_from_handle(handle);
    if (!img) return false;
    std::atomic_ref<int32_t>(img->valid).store(0, std::memory_order_release);
    render_command command;
    command.kind = render_free_requested;
    command.source = hardware_img_id_from_handle(handle);
    render_command_queue(command);
    return true;
}

render_queue_ids render_queue_ids_get() {
    std::lock_guard<std::mutex> guard(queue.lock);
    return queue.ids;
}

int32_t render_command_queue(const render_command& command) {
    std::lock_guard<std::mutex> guard(queue.lock);
    prune_locked();
    render_command stamped = command;
    bool has_source = command.kind != render_depth_clear;
    stamped.source_serial = has_source ? image_serial(command.source) : 0;
    stamped.destination_serial = draws(command.kind) ? image_serial(command.destination) : 0;
    return command_append_locked(stamped);
}

void render_queue_prune() {
    std::lock_guard<std::mutex> guard(queue.lock);
    prune_locked();
}

bool render_queue_idle(int64_t frame) {
    std::lock_guard<std::mutex> guard(queue.lock);
    int32_t id = 0;
    first_unplayed_locked(id);
    render_command* waiting = command_at(id);
    return !waiting || waiting->frame > frame;
}

bool render_command_get(int32_t id, render_command& out) {
    std::lock_guard<std::mutex> guard(queue.lock);
    render_command* command = command_at(id);
    if (command) out = *command;
    return command != nullptr;
}

bool render_command_images_current(const render_command& c) {
    if (c.kind != render_depth_clear) {
        hardware_img* source = c.source > 0 ? hardware_img_at(c.source) : nullptr;
        if (!source || source->serial != c.source_serial) return false;
    }
    if (c.destination > 0) {
        hardware_img* destination = hardware_img_at(c.destination);
        if (!destination || destination->serial != c.destination_serial) return false;
    }
    return true;
}

void render_queue_play(render_queue_walk& walk, int32_t target, render_play_fn play) {
    walk.batch.clear();
    walk_alerts alerts;
    {
        std::lock_guard<std::mutex> guard(queue.lock);
        bool first = !walk.first_done;
        walk.first_done = true;
        if (first && !walk.stopped) older_frames_walk_locked(walk, alerts);
        if (!walk.stopped) frame_walk_locked(walk, alerts, target, first);
    }
    walk_alerts_show(alerts);
    for (const render_command& command : walk.batch) play(command);
}
