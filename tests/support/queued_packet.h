// What the program queued for the server, read back without a send thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct QueuedPacket {
    uint16_t code = 0; // 0: nothing queued
    uint32_t req_id = 0;
    std::vector<unsigned char> body;
    uint32_t status = 0xFFFFFFFF; // of a well-formed reply body, else 0xFFFFFFFF
    std::string text;
};

// The oldest queued packet, taken off the queue; heartbeats (0x2002) are
// dropped on the way unless `keep_heartbeats`.
QueuedPacket take_queued(bool keep_heartbeats = false);
