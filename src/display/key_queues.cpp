#include "display/key_queues.h"

void scan_bytes_push(scan_byte_queue& queue, uint8_t byte) {
    if (!queue.bytes.empty() && queue.bytes.newest() == byte) return;
    queue.bytes.push(byte);
}

uint8_t scan_bytes_take(scan_byte_queue& queue) {
    if (!queue.bytes.empty()) queue.last_taken = queue.bytes.pop();
    return queue.last_taken;
}
