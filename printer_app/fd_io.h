// Whole buffers and whole files written to a descriptor: again after an
// interruption or a short write, errno saying why when it fails.
#pragma once

#include <cstddef>
#include <functional>

// Writes all `size` bytes of `data` to `fd`; a `socket`'s writes never raise SIGPIPE.
bool write_all(int fd, const char *data, size_t size, bool socket = false);

// Reads `from` to its end, handing each piece read to `put`; false when a
// read fails or `put` does.
bool read_all(int from, const std::function<bool(const char *, size_t)> &put);

// Copies `from` to its end into `to`, with write_all.
bool copy_all(int from, int to, bool socket = false);
