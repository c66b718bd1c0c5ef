#include "machine/memory_files.h"

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/error_codes.h"
#include "core/errors.h"
#include "core/memory.h"
#include "core/strings.h"
#include "files/file_handles.h"
#include "files/path_names.h"

namespace {

constexpr uint8_t image_marker = 0xFD;
constexpr int32_t header_size = 7;
constexpr uint32_t segment_bytes = 65536;

// The Linux path of a program's file name; false when the name cannot name a file.
bool host_path_of(const string_descriptor* name, std::string& path) {
    std::string_view text(reinterpret_cast<const char*>(name->text), static_cast<size_t>(name->length));
    return file_name_fix(text, path) == file_ok;
}

// Byte i of a stretch lies at base + ((offset + i) AND 0xFFFF).
void stretch_read(uint32_t base, uint32_t offset, uint8_t* to, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) to[i] = dos_byte_read(base + ((offset + i) & 0xFFFF));
}
void stretch_write(uint32_t base, uint32_t offset, const uint8_t* from, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) dos_byte_write(base + ((offset + i) & 0xFFFF), from[i]);
}

}  // namespace

void segment_save_file(string_descriptor* name, int32_t offset, int32_t length) {
    if (error_pending()) return;
    if (!segment_word_in_range(offset) || length < -65536 || length > 65536) {
        error_raise(error_overflow);
        return;
    }
    const uint32_t n = length == 65536 ? segment_bytes : static_cast<uint32_t>(length) & 0xFFFF;
    const uint32_t at = static_cast<uint32_t>(offset) & 0xFFFF;
    std::string path;
    std::ofstream file;
    if (host_path_of(name, path)) file.open(path, std::ios::binary | std::ios::trunc);
    if (!file.is_open()) {
        error_raise(error_bad_file_name);
        return;
    }
    std::vector<uint8_t> image(header_size + n);
    image[0] = image_marker;
    word_store(&image[1], current_segment());
    word_store(&image[3], static_cast<uint16_t>(at));
    word_store(&image[5], static_cast<uint16_t>(n));  // 65536 is written as 0
    stretch_read(current_segment() * 16, at, image.data() + header_size, n);
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    file.close();
    // A full disk shows only here: the stream writes when it is flushed.
    if (!file) error_raise(error_path_file_access);
}

void segment_load_file(string_descriptor* name, int32_t offset, int32_t offset_given) {
    if (error_pending()) return;
    if (offset_given && !segment_word_in_range(offset)) {
        error_raise(error_overflow);
        return;
    }
    std::string path;
    std::ifstream file;
    if (host_path_of(name, path)) file.open(path, std::ios::binary);
    if (!file.is_open()) {
        error_raise(error_file_not_found);
        return;
    }
    uint8_t header[header_size];
    if (!file.read(reinterpret_cast<char*>(header), header_size) || header[0] != image_marker) {
        error_raise(error_bad_file_mode);
        return;
    }
    uint32_t n = word_load(&header[5]);
    if (n == 0) {
        // An empty image, or a full one: never more than one segment, whatever the file holds.
        file.seekg(0, std::ios::end);
        n = static_cast<uint64_t>(file.tellg()) - header_size >= segment_bytes ? segment_bytes : 0;
        file.seekg(header_size);
    }
    const uint32_t base = offset_given ? current_segment() * 16 : word_load(&header[1]) * 16;
    const uint32_t at = offset_given ? static_cast<uint32_t>(offset) & 0xFFFF : word_load(&header[3]);
    std::vector<uint8_t> body(n);
    file.read(reinterpret_cast<char*>(body.data()), n);
    const uint32_t got = static_cast<uint32_t>(file.gcount());
    stretch_write(base, at, body.data(), got);
    if (got < n) error_raise(error_bad_file_mode);
}
