// libFuzzer harness for the turtle language: fuzzed command strings on a small image of a fuzzed
// kind, with the string segment filled from the fuzzed bytes so that variable references and
// sub-strings point at fuzzed data. Any crash, sanitizer report or hang is a finding.
//
// Input: byte 0 picks the image, bytes 1-2 the length of the commands, then the commands, then
// the bytes repeated over the whole string segment.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "core/memory.h"
#include "core/strings.h"
#include "draw/turtle.h"
#include "screen/fonts.h"
#include "screen/image_pool.h"
#include "screen/palette.h"

namespace {

constexpr int32_t modes[] = {13, 12, 2, 1, 32, 32};
constexpr size_t image_kinds = sizeof modes / sizeof modes[0];
int32_t slots[image_kinds];

bool images_made() {
    font_metrics_init();
    palettes_load();
    image_pool_reserve();
    dos_memory_clear();
    for (size_t i = 0; i < image_kinds; ++i) slots[i] = image_new(64, 48, modes[i]);
    image_pool[slots[image_kinds - 1]].blend_off = 1;
    return true;
}

void segment_fill(const uint8_t* bytes, size_t n) {
    uint8_t* segment = dos_memory + string_segment_address;
    if (n == 0) {
        std::memset(segment, 0, string_segment_size);
        return;
    }
    for (size_t at = 0; at < string_segment_size; at += n) std::memcpy(segment + at, bytes, std::min(n, string_segment_size - at));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = images_made();
    (void)ready;
    if (size < 3) return 0;
    image_record& r = image_pool[slots[data[0] % image_kinds]];
    dest_slot_select(slots[data[0] % image_kinds]);
    std::memset(r.pixels, 0, image_pixel_bytes(&r));
    r.cursor_x = 32;
    r.cursor_y = 24;
    r.turtle_angle = 0;
    r.turtle_scale = 1;
    size_t length = std::min<size_t>(size_t(data[1] | data[2] << 8), size - 3);
    segment_fill(data + 3 + length, size - 3 - length);
    string_descriptor commands{};
    commands.text = const_cast<uint8_t*>(data + 3);
    commands.length = static_cast<int32_t>(length);
    error_number = 0;
    turtle_draw(&commands);
    error_number = 0;
    return 0;
}
