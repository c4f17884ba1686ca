#include "fd_io.h"

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

bool write_all(int fd, const char *data, size_t size, bool socket) {
    while (size > 0) {
        ssize_t put = socket ? send(fd, data, size, MSG_NOSIGNAL) : write(fd, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= size_t(put);
    }
    return true;
}

bool read_all(int from, const std::function<bool(const char *, size_t)> &put) {
    char buffer[1 << 16];
    for (ssize_t got; (got = read(from, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || !put(buffer, size_t(got)))
            return false;
    }
    return true;
}

bool copy_all(int from, int to, bool socket) {
    return read_all(
        from, [&](const char *data, size_t size) { return write_all(to, data, size, socket); });
}
