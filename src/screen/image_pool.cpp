#include "screen/image_pool.h"

#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "screen/fonts.h"
#include "screen/memory_blocks.h"
#include "screen/modes.h"
#include "screen/palette.h"

namespace {

// The first chunk is static, so the pool exists before start-up runs.
image_record first_chunk[image_pool_chunk_records];

struct image_free_stack_state {
    int32_t* slots = nullptr;
    int32_t capacity = 0;
    int32_t top = -1;
};
image_free_stack_state image_free_stack;

constexpr int32_t free_stack_step = 4096;

void (*image_freeing_seam)(int32_t slot) = nullptr;

void record_clear(image_record* record) { std::memset(static_cast<void*>(record), 0, sizeof(image_record)); }

bool pool_grow() {
    int32_t chunk = image_pool_capacity / image_pool_chunk_records;
    if (chunk >= image_pool_max_chunks) return false;
    auto* records = static_cast<image_record*>(std::calloc(image_pool_chunk_records, sizeof(image_record)));
    if (!records) return false;
    image_pool.chunk[chunk].store(records, std::memory_order_release);
    image_pool_capacity += image_pool_chunk_records;
    return true;
}

bool free_stack_grow() {
    int64_t capacity = int64_t{image_free_stack.capacity} + free_stack_step;
    auto* slots = static_cast<int32_t*>(std::realloc(image_free_stack.slots, static_cast<size_t>(capacity) * sizeof(int32_t)));
    if (!slots) return false;
    image_free_stack.slots = slots;
    image_free_stack.capacity = static_cast<int32_t>(capacity);
    return true;
}

struct mode_defaults {
    uint16_t mode;
    uint8_t bits_per_pixel;
    uint8_t bytes_per_pixel;
    int32_t font;
    uint32_t fore_color;
    uint32_t back_color;
};

constexpr mode_defaults mode_table[] = {
    {0, 16, 2, 16, 7, 0},    {1, 2, 1, 8, 3, 0},     {2, 1, 1, 8, 1, 0},
    {7, 4, 1, 8, 15, 0},     {8, 4, 1, 8, 15, 0},    {9, 4, 1, 14, 15, 0},
    {10, 2, 1, 14, 3, 0},    {11, 1, 1, 16, 1, 0},   {12, 4, 1, 16, 15, 0},
    {13, 8, 1, 8, 15, 0},    {32, 32, 4, 16, 0xFFFFFFFF, 0xFF000000},
    {256, 8, 1, 16, 15, 0},
};

const mode_defaults* mode_defaults_of(int32_t mode) {
    for (const mode_defaults& d : mode_table)
        if (d.mode == mode) return &d;
    return nullptr;
}

void text_view_reset(image_record* r) {
    r->cursor_column = 1;
    r->cursor_row = 1;
    r->view_top = 1;
    int32_t rows = image_text_grid(r).rows;
    r->view_bottom = static_cast<int16_t>(rows - 1 > 1 ? rows - 1 : 1);
}

// The per-mode defaults of the record's own mode, palette contents included.
void mode_defaults_apply(image_record* r) {
    const mode_defaults& d = *mode_defaults_of(r->mode);
    r->bits_per_pixel = d.bits_per_pixel;
    r->bytes_per_pixel = d.bytes_per_pixel;
    r->color_mask = d.bits_per_pixel >= 32 ? 0xFFFFFFFFu : (1u << d.bits_per_pixel) - 1;
    r->font = d.font;
    r->fore_color = static_cast<int32_t>(d.fore_color);
    r->back_color = d.back_color;
    r->draw_color = d.fore_color;
    r->print_mode = 3;
    r->turtle_angle = 0.0;
    r->turtle_scale = 1.0;
    r->is_text = r->mode == 0;
    if (r->is_text) {
        r->cursor_visible = 0;
        r->cursor_start_line = 4;
        r->cursor_stop_line = 4;
    }
    text_view_reset(r);
    if (r->mode != 32) {
        palette_load_default(r);
        r->clear_color = -1;
    }
    if (!r->is_text) {
        r->cursor_x = static_cast<float>(r->width / 2);
        r->cursor_y = static_cast<float>(r->height / 2);
        r->clip_x2 = r->width - 1;
        r->clip_y2 = r->height - 1;
        r->scale_x = 1.0f;
        r->scale_y = 1.0f;
        r->window_x2 = static_cast<float>(r->width - 1);
        r->window_y2 = static_cast<float>(r->height - 1);
    }
}

void pixels_fill_blank_cells(image_record* r) {
    text_cell* cells = cells_of(r);
    size_t n = size_t{r->width} * r->height;
    for (size_t i = 0; i < n; ++i) cells[i] = text_cell{0x20, 0x07};
}

}  // namespace

image_pool_chunks image_pool = {{first_chunk}};
int32_t image_pool_capacity = image_pool_chunk_records;
int32_t image_pool_used = 0;

int32_t dest_image_index = 0;
image_record* dest_image = first_chunk;
int32_t source_image_index = 0;
image_record* source_image = first_chunk;
std::atomic<int32_t> display_image_index{0};
std::atomic<image_record*> display_image{first_chunk};

bool image_slot_in_use(int64_t slot) {
    return slot >= 0 && slot < image_pool_used && image_pool[static_cast<int32_t>(slot)].in_use;
}

int32_t image_handle_resolve(int32_t handle) {
    if (handle >= 0) return screen_page_get(handle);
    int32_t slot = image_handle_slot(handle);
    if (!slot) error_raise(error_invalid_handle);
    return slot;
}

image_record* image_handle_record(int32_t handle) {
    int32_t slot = image_handle_resolve(handle);
    return slot ? &image_pool[slot] : nullptr;
}

image_record* image_target(int32_t handle, int32_t handle_given) {
    return handle_given ? image_handle_record(handle) : dest_image;
}

bool image_mode_valid(int32_t mode) { return mode_defaults_of(mode) != nullptr; }

text_grid image_text_grid(const image_record* record) {
    if (record->is_text) return {record->width, record->height};
    const int32_t advance = font_advance_width(record->font);
    const int32_t glyph = font_glyph_height(record->font);
    return {advance > 0 ? record->width / advance : record->width, glyph > 0 ? record->height / glyph : 0};
}

bool image_proportional(const image_record* record) {
    return !record->is_text && font_advance_width(record->font) == 0;
}

size_t image_pixel_bytes(const image_record* record) {
    return size_t{record->width} * record->height * record->bytes_per_pixel;
}

void image_graphics_state_copy(image_record* to, const image_record* from) {
    constexpr size_t first = offsetof(image_record, clip_x1);
    constexpr size_t end = offsetof(image_record, turtle_scale) + sizeof(double);
    std::memcpy(reinterpret_cast<char*>(to) + first, reinterpret_cast<const char*>(from) + first, end - first);
}

int32_t image_slot_take() {
    int32_t slot;
    if (image_free_stack.top >= 0) {
        slot = image_free_stack.slots[image_free_stack.top--];
    } else {
        if (image_pool_used >= image_pool_capacity && !pool_grow()) {
            error_raise(error_image_pool_growth);
            return 0;
        }
        slot = image_pool_used++;
    }
    image_pool[slot].in_use = 1;
    return slot;
}

int32_t image_slot_release(int32_t slot) {
    if (!image_slot_in_use(slot)) return 0;
    if (image_free_stack.top >= image_free_stack.capacity - 1 && !free_stack_grow()) {
        error_raise(error_image_free_stack_growth);
        return 0;
    }
    image_record* r = &image_pool[slot];
    image_lock_retire(r);
    record_clear(r);
    image_free_stack.slots[++image_free_stack.top] = slot;
    return 1;
}

bool image_lock_live(const image_record* record) {
    return record->lock && record->lock_id != 0 && record->lock->id == record->lock_id;
}

void image_lock_retire(image_record* record) {
    // A lock whose id moved on belongs to someone else now: leave it alone.
    if (image_lock_live(record)) memory_lock_free(record->lock);
    record->lock = nullptr;
    record->lock_id = 0;
}

void image_storage_free(image_record* record) {
    image_lock_retire(record);
    if (record->image_flags & image_owns_pixels) std::free(record->pixels);
    if (record->image_flags & image_owns_palette) std::free(record->palette);
    record->pixels = nullptr;
    record->palette = nullptr;
}

int32_t image_new_over_memory(uint8_t* memory, int32_t width, int32_t height, int32_t mode) {
    if (width < 1 || height < 1 || !image_mode_valid(mode)) return 0;
    if (width > 65535 || height > 65535) {
        error_raise(error_illegal_function_call);
        return 0;
    }
    int32_t slot = image_slot_take();
    if (!slot) return 0;
    image_record* r = &image_pool[slot];
    r->pixels = memory;
    r->width = static_cast<uint16_t>(width);
    r->height = static_cast<uint16_t>(height);
    r->mode = static_cast<uint16_t>(mode);
    if (mode != 32) {
        r->palette = static_cast<uint32_t*>(std::calloc(256, sizeof(uint32_t)));
        if (!r->palette) {
            image_slot_release(slot);
            return 0;
        }
        r->image_flags |= image_owns_palette;
    }
    mode_defaults_apply(r);
    return slot;
}

int32_t image_new(int32_t width, int32_t height, int32_t mode) {
    int32_t slot = image_new_over_memory(nullptr, width, height, mode);
    if (!slot) return 0;
    image_record* r = &image_pool[slot];
    r->pixels = static_cast<uint8_t*>(r->is_text ? std::malloc(image_pixel_bytes(r)) : std::calloc(image_pixel_bytes(r), 1));
    if (!r->pixels) {
        image_free(slot);
        return 0;
    }
    r->image_flags |= image_owns_pixels;
    if (r->is_text) pixels_fill_blank_cells(r);
    return slot;
}

void image_reset_for_mode(int32_t slot) {
    image_record* r = &image_pool[slot];
    mode_defaults_apply(r);
    if (r->pixels) std::memset(r->pixels, 0, image_pixel_bytes(r));
}

int32_t image_font_set(int32_t font, image_record* record) {
    record->font = font;
    text_view_reset(record);
    return 1;
}

void source_image_select(int32_t handle) {
    if (error_pending()) return;
    if (int32_t slot = image_handle_resolve(handle)) source_slot_select(slot);
}

void dest_image_select(int32_t handle) {
    if (error_pending()) return;
    if (int32_t slot = image_handle_resolve(handle)) dest_slot_select(slot);
}

void source_slot_select(int32_t slot) {
    source_image_index = slot;
    source_image = &image_pool[slot];
}

void dest_slot_select(int32_t slot) {
    dest_image_index = slot;
    dest_image = &image_pool[slot];
}

void display_slot_select(int32_t slot) {
    display_image_index.store(slot, std::memory_order_relaxed);
    display_image.store(&image_pool[slot], std::memory_order_release);
}

int32_t source_image_handle() { return -source_image_index; }
int32_t dest_image_handle() { return -dest_image_index; }
int32_t display_image_handle() { return -display_image_index.load(std::memory_order_relaxed); }

void image_free_seam_set(void (*image_freeing)(int32_t slot)) { image_freeing_seam = image_freeing; }

void image_free(int32_t slot) {
    if (image_freeing_seam) image_freeing_seam(slot);
    image_record* r = &image_pool[slot];
    int32_t shown = display_image_index.load(std::memory_order_relaxed);
    if (slot == dest_image_index) dest_slot_select(shown);
    if (slot == source_image_index) source_slot_select(shown);
    image_storage_free(r);
    image_slot_release(slot);
}

void images_free_all() {
    for (int32_t slot = 2; slot < image_pool_used; ++slot) {
        const image_record& r = image_pool[slot];
        if (r.in_use && !(r.image_flags & image_is_screen_page)) image_free(slot);
    }
}

void image_pool_reserve() {
    for (int32_t slot = 0; slot < image_pool_used; ++slot) {
        image_record* r = &image_pool[slot];
        if (r->in_use) image_storage_free(r);
    }
    for (int32_t chunk = 0; chunk < image_pool_capacity / image_pool_chunk_records; ++chunk) {
        image_record* records = image_pool.chunk[chunk].load(std::memory_order_relaxed);
        std::memset(static_cast<void*>(records), 0, sizeof(image_record) * image_pool_chunk_records);
    }
    image_pool_used = 0;
    image_free_stack.top = -1;
    if (!image_free_stack.slots && !free_stack_grow()) error_raise(error_image_free_stack_growth);
    image_pool[image_slot_take()].in_use = 0;
    image_pool[image_slot_take()].in_use = 0;
    dest_slot_select(0);
    source_slot_select(0);
    display_slot_select(0);
}
