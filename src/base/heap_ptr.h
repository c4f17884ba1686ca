// Pure: builds natively, no windows.h.
// Ownership of buffers from the C allocator (malloc, calloc, realloc,
// strdup), released with free on every path.
#pragma once

#include <cstdlib>
#include <memory>

struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};

template <typename T>
using HeapPtr = std::unique_ptr<T, FreeDeleter>;
