// Pure: builds natively, no windows.h.
// Parsing of the PXQ variable, which configures the debug channel when the
// host offers no debug primitives of its own.
#pragma once

#include <cstddef>

// One entry per channel named in PXQ: class flags, then the name.
struct PxqOption {
    unsigned char flags;
    char name[15];
};

// Process-wide configuration. `count` is -1 until PXQ has been read.
struct PxqConfig {
    int count;
    unsigned char default_flags;
    int capacity;
    PxqOption *options; // sorted by name, grown by doubling, never freed
};

constexpr unsigned char PXQ_DEFAULT_FLAGS = 0x03; // fixme and err

// The message classes, by their bit numbers in the flags.
inline constexpr const char *CLASS_NAMES[] = {"fixme", "err", "warn", "trace"};

// Applies the option text (the value of PXQ, may be null) to `config`.
// Sets count to 0 first; options are applied in order.
void pxq_parse(PxqConfig *config, const char *text);

// The entry for `name`, or null.
const PxqOption *pxq_find(const PxqConfig *config, const char *name);
