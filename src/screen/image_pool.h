// The image record and the pool of records addressed by handles: slot allocation and release, the
// per-mode defaults, the constructors and the destination, source and displayed images.
// It does not draw (pixels.h), make screen pages (modes.h) or free images by handle (image_handles.h).
//
// Records live in chunks of 4096 that never move once made, so a pointer to a record stays valid
// while the pool grows: the frame builder on the control thread may hold display_image meanwhile.
// The pool itself is changed only on the program thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct memory_lock;

// One surface: a screen page, an image, the printer page or the console page. A record not in use is
// all zeros. Its exact layout is the runtime's own business; nothing depends on its size.
struct image_record {
    memory_lock* lock;   // the image's lock, null when no memory block was ever made over it
    uint64_t lock_id;    // id the lock had when attached; 0 = no lock
    uint8_t in_use;
    uint8_t is_text;     // mode 0
    uint8_t is_console;  // text output goes to standard output
    uint16_t width;      // pixels; columns for a text image
    uint16_t height;     // pixels; rows for a text image
    uint8_t bytes_per_pixel;  // 1, 2 (a text_cell) or 4
    uint8_t bits_per_pixel;   // 1, 2, 4, 8, 16 (text) or 32
    uint32_t color_mask;      // (1 << bits_per_pixel) - 1; 0xFFFFFFFF from 32 bits
    uint16_t mode;            // 0 text, 1, 2, 7-13, 32 (32-bit colour), 256 (8-bit image of any size)
    int32_t fore_color;       // in text images bit 4 is the blink bit
    uint32_t back_color;
    uint32_t draw_color;      // colour last used by a drawing statement
    int32_t font;             // index of font_table
    int16_t view_top, view_bottom;       // text view rows, 1-based, inclusive
    int16_t cursor_column, cursor_row;   // text cursor, 1-based
    uint8_t cursor_visible, cursor_start_line, cursor_stop_line;
    uint8_t* pixels;          // rows top down; text_cells for a text image
    uint32_t image_flags;     // image_owns_palette | image_is_screen_page | image_owns_pixels
    uint32_t* palette;        // 256 entries of an 8-bit or text image; null for 32-bit images
    int32_t clear_color;      // transparent palette index, -1 = none
    uint8_t blend_off;        // 1: 32-bit writes store colours as they are
    uint8_t pending_newline;  // 1 deferred at the last column, 2 kept by a cursor placement
    uint8_t print_mode;       // 1 ink only, 2 background only, 3 ink and background

    // The graphics state: clip_x1 through turtle_scale, copied as one block (image_graphics_state_copy).
    int32_t clip_x1, clip_y1, clip_x2, clip_y2;  // pixels, inclusive
    int32_t view_origin_x, view_origin_y;        // pixel offset added to mapped coordinates
    float cursor_x, cursor_y;                    // graphics cursor, logical coordinates
    uint8_t coord_mode;                          // 0 pixels, 1 view, 2 window and view
    float scale_x, scale_y;
    float offset_x, offset_y;
    float window_x1, window_y1, window_x2, window_y2;
    double turtle_angle;  // degrees
    double turtle_scale;  // 1.0 = unscaled
};

enum : uint32_t {
    image_owns_palette = 1,
    image_is_screen_page = 2,
    image_owns_pixels = 4,
};

// One cell of a text image: character code, then attribute (foreground bits 0-3, background 4-6,
// blink 7). A fresh text image holds 0x0720 (grey space on black) in every cell.
struct text_cell {
    uint8_t code;
    uint8_t attribute;
};
static_assert(sizeof(text_cell) == 2);
constexpr uint16_t text_cell_blank = 0x0720;

// Columns and rows of text an image holds.
struct text_grid {
    int32_t columns;
    int32_t rows;
};

// The pool. image_pool[slot] is the record of a slot below image_pool_capacity.
constexpr int32_t image_pool_chunk_records = 4096;
// Handles below -8388608 are hardware images, so image slots stay below 8388608.
constexpr int32_t image_pool_max_chunks = 2048;
struct image_pool_chunks {
    std::atomic<image_record*> chunk[image_pool_max_chunks];
    image_record& operator[](int32_t slot) const {
        return chunk[slot / image_pool_chunk_records].load(std::memory_order_acquire)[slot % image_pool_chunk_records];
    }
};
extern image_pool_chunks image_pool;
extern int32_t image_pool_capacity;   // records allocated
extern int32_t image_pool_used;       // next never-used slot

// The selections: written only through the functions of this module, on the program thread.
// display_image is also read by the frame builder on the control thread.
extern int32_t dest_image_index;
extern image_record* dest_image;
extern int32_t source_image_index;
extern image_record* source_image;
extern std::atomic<int32_t> display_image_index;
extern std::atomic<image_record*> display_image;

// Handles: negative = -slot of an image, 0 and above = screen page number, below -8388608 = hardware
// image (screen/hardware_images.h).
//
// True when the slot's record is in use (slots 0 and 1 never are); any slot number may be asked.
bool image_slot_in_use(int64_t slot);
// The slot of a negative handle whose record is in use, else 0; raises nothing.
inline int32_t image_handle_slot(int32_t handle) {
    int64_t slot = -int64_t{handle};
    return image_slot_in_use(slot) ? static_cast<int32_t>(slot) : 0;
}
// Resolves a handle to a slot in use; 0 with error 258 when the handle names no image
// (pages of a handle >= 0 are made on demand).
int32_t image_handle_resolve(int32_t handle);
// The same as a record, null with error 258.
image_record* image_handle_record(int32_t handle);
// The record an operation works on: the handle's when given, else the destination image.
image_record* image_target(int32_t handle, int32_t handle_given);

// Modes a record may have: 0, 1, 2, 7-13, 32, 256.
bool image_mode_valid(int32_t mode);
// Text grid of an image: cells of a text image; width / advance by height / glyph height of a
// graphics image (one-pixel columns with a proportional font).
text_grid image_text_grid(const image_record* record);
// A graphics image whose font has no fixed advance: it prints and positions in pixels.
bool image_proportional(const image_record* record);
// The cells of a text image.
inline text_cell* cells_of(const image_record* record) { return reinterpret_cast<text_cell*>(record->pixels); }
// Byte count of the pixels: width * height * bytes_per_pixel.
size_t image_pixel_bytes(const image_record* record);
// Copies clip_x1 through turtle_scale.
void image_graphics_state_copy(image_record* to, const image_record* from);

int32_t image_slot_take();
int32_t image_slot_release(int32_t slot);
// Width and height must be 1-65535 (larger sizes do not fit the record: error 5).
int32_t image_new_over_memory(uint8_t* memory, int32_t width, int32_t height, int32_t mode);
int32_t image_new(int32_t width, int32_t height, int32_t mode);
void image_reset_for_mode(int32_t slot);
int32_t image_font_set(int32_t font, image_record* record);
void source_image_select(int32_t handle);
void dest_image_select(int32_t handle);
// The same by slot, without the checks of a handle: for a slot in use, or 0 (the start record).
void source_slot_select(int32_t slot);
void dest_slot_select(int32_t slot);
void display_slot_select(int32_t slot);
int32_t source_image_handle();
int32_t dest_image_handle();
int32_t display_image_handle();
void images_free_all();
// Frees an image's owned pixels and palette and releases its slot; a destination or source image
// first hands its selection to the displayed image. Not for screen pages.
void image_free(int32_t slot);
// A module that keeps an image of its own (the printer page) is told the slot before image_free frees
// it, so its handle never outlives the image. One entry; null tells no one.
void image_free_seam_set(void (*image_freeing)(int32_t slot));
// Retires the image's lock and frees its owned pixels and palette; the slot stays taken.
void image_storage_free(image_record* record);

// True while the image's lock is the one it attached (the lock's id has not moved on).
bool image_lock_live(const image_record* record);
// Retires the image's memory lock (killing every block over its pixels) before its pixel memory is
// freed or replaced while the slot lives on.
void image_lock_retire(image_record* record);

// Start-up: zeroes the pool and reserves slots 0 and 1, which are never used.
void image_pool_reserve();
