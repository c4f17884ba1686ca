// One Ghostscript for one document, kept running and asked one command at
// a time on its standard input, as its interactive mode allows: the document
// is opened once, and a page costs only its drawing. It runs niced, in a
// session of its own, with its address space limited, and every command has
// a deadline; what it says is kept only as its last line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

struct GhostscriptLimits {
    uint64_t memory_bytes = uint64_t(4) << 30; // address space
    int command_ms = 300 * 1000;               // one page, or opening the document
};

struct Ghostscript {
    pid_t pid = -1;
    int input = -1;  // its standard input (a socket: a write never raises SIGPIPE)
    int output = -1; // its standard output and error
    GhostscriptLimits limits;
    std::string partial;   // what it said after its last line end
    std::string last_line; // of the current command, without the end marker
    std::string error;
};

// Starts Ghostscript with `args` (device and output), allowed to read `pdf`.
bool ghostscript_start(Ghostscript &gs, const std::vector<std::string> &args,
                       const std::string &pdf);
// Sends one command and returns without waiting for it.
bool ghostscript_send(Ghostscript &gs, const std::string &command);
// Waits until the command sent last is done. `idle`, called about once a
// second, ends the wait with false when it returns false.
bool ghostscript_wait(Ghostscript &gs, bool (*idle)(void *), void *context);
// Ends Ghostscript (killed if it does not end within wait_ms) and closes
// its pipes.
void ghostscript_stop(Ghostscript &gs, int wait_ms = 2000);
