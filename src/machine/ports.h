// The emulated I/O ports: the VGA DAC over the destination image's palette (0x3C7, 0x3C8, 0x3C9),
// the retrace status (0x3DA) and the keyboard data port (0x60) over the scan-code queue. Every other
// port is not emulated: output is dropped, input reads 0, and port_unsupported says so.
// Not here: raising the retrace flags (the control thread), the queue (the keyboard).
#pragma once

#include <atomic>
#include <cstdint>

// Vertical retrace: the control thread raises both for the last part of its turn and lowers the
// active one; the status port reads them (and takes the latch).
extern std::atomic<int32_t> retrace_latch;
extern std::atomic<int32_t> retrace_active;

void port_out(int32_t port, int32_t value);
int32_t port_in(int32_t port);
// Waits until (port_in(port) XOR xor) AND and is not 0, the port is not emulated, an error is
// pending or the runtime shuts down; pending events are served at each 1 ms poll.
void port_wait(int32_t port, int32_t and_mask, int32_t xor_value, int32_t xor_given);

// Set by an access to a port that is not emulated, cleared at the start of every access.
int32_t port_unsupported_get();

// DAC levels: 6-bit to 8-bit (0, 4, 8, ... 251, 255) and back; every 6-bit level survives the trip.
uint8_t dac_level8(uint32_t level6);
uint8_t dac_level6(uint32_t level8);

// Tests: the DAC indices and components at 0, no port unsupported.
void ports_reset();
