// Palettes of palette images: the default tables, the per-mode defaults and palette entry access.
// Entries hold 0xRRGGBB in the low 24 bits; entries from the default tables carry 0xFF on top.
// The colour statements that name palette entries by mode are colors.h.
#pragma once

#include <cstdint>

struct image_record;

// Set at start-up (palettes_load), read-only afterwards.
extern uint32_t default_palette_256[256];
extern uint32_t ega_palette_64[64];
// Mode-10 grey levels: entry phase * 9 + pseudo-colour (0-8).
extern uint32_t mode10_level_table[18];

// Start-up: the default tables, the mode-10 levels and the built-in glyphs.
void palettes_load();

// Fills the record's palette with the defaults of its mode; nothing for a 32-bit image.
void palette_load_default(image_record* record);
// Entry i ORed with 0xFF000000; error 5 without palette or for i outside 0-255.
uint32_t palette_entry_get(int32_t i, int32_t handle, int32_t handle_given);
void palette_entry_set(int32_t i, uint32_t value, int32_t handle, int32_t handle_given);
// flags: 1 = from handle given (else the source image), 2 = to handle given (else the destination).
void palette_copy(int32_t from_handle, int32_t to_handle, int32_t flags);
