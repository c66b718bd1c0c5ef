// Where the file statements hand negative file numbers (network handles) to the network layer.
// The network module sets the entries at its start-up; an empty entry means no such handle:
// close does nothing, the transfers and queries raise 52 "Bad file name or number".
#pragma once

#include <cstdint>

struct byte_span;
struct string_descriptor;

struct file_network_seams {
    void (*close)(int32_t handle);  // one handle; a missing row does nothing
    void (*close_all)();
    void (*get_bytes)(int32_t handle, byte_span* span);
    void (*get_string)(int32_t handle, string_descriptor* target);
    void (*put_bytes)(int32_t handle, const uint8_t* data, int32_t count);
    int64_t (*length)(int32_t handle);
    int32_t (*eof)(int32_t handle);  // -1 or 0
};
extern file_network_seams file_network;
