// Serial ports: the device text "COMn:" with its option string, the termios settings it asks for,
// and reading and writing a port with the time-outs of its settings. Port n is the device named by
// the environment variable LUMO_COMn, else /dev/ttyS<n-1>; it is held exclusively (flock) while
// open. Ports are always raw: ASC changes only how the text readers treat byte 26.
// Not here: the slot bookkeeping (file_handles.h).
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "files/file_handles.h"

enum : uint8_t { com_parity_none = 0, com_parity_even = 1, com_parity_odd = 2, com_parity_space = 3,
                 com_parity_mark = 4, com_parity_pe = 5 };

// 0: not a serial device text (a file name); -1: a serial device text with bad settings;
// 1: the settings are filled in (com_port set). com_port is 0 unless the answer is 1.
int32_t com_spec_parse(std::string_view name, com_settings& settings);

// The termios of a port with these settings, starting from the device's own (pure): false when
// the settings cannot be had (a speed without a constant, 1.5 stop bits beyond 5 data bits).
bool com_termios_build(const com_settings& settings, termios& t);
// The device path of port n.
std::string com_device_path(int32_t port);

// Opens and configures the port of settings: the descriptor, or file_device_unavailable.
int com_open(const com_settings& settings, int32_t access);
// Reads up to count bytes within the read time-out: bytes delivered, or file_fault.
int64_t com_read(int fd, uint8_t* buffer, int64_t count, int32_t timeout_ms);
// Writes count bytes within the write time-out: bytes written, or file_fault.
int64_t com_write(int fd, const uint8_t* buffer, int64_t count, int32_t timeout_ms);
// Bytes waiting in the input queue; 0 when that cannot be read.
int64_t com_bytes_waiting(int fd);
