// Pure: builds natively, no windows.h.
#include "imaging/page_buffer.h"

#include <cstdlib>

#include "base/heap_ptr.h"

namespace {

// Used by the dispatcher's thread only.
HeapPtr<unsigned char> buffer;
size_t buffer_size;

} // namespace

unsigned char *page_buffer(size_t size) {
    if (buffer && buffer_size >= size)
        return buffer.get();
    release_page_buffer();
    buffer.reset(static_cast<unsigned char *>(malloc(size)));
    if (buffer)
        buffer_size = size;
    return buffer.get();
}

void release_page_buffer() {
    buffer.reset();
    buffer_size = 0;
}
