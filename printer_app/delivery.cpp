#include "delivery.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fd_io.h"

namespace {

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            close(fd);
    }
};

std::string failure(const std::string &what) {
    return what + ": " + strerror(errno);
}

// A new file in `folder` named STEM.EXT, or STEM-N.EXT when that is taken.
int create_unique(const std::string &folder, const std::string &stem, const std::string &ext,
                  std::string &path) {
    for (int n = 1; n < 1000; ++n) {
        path = folder + "/" + stem + (n > 1 ? "-" + std::to_string(n) : "") + ext;
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Opens the job's own output, PREFIX/drive_c/NAME, reached without
// following a link; false with `error` unless it is a regular file.
bool open_output(const std::string &prefix, const std::string &name, Fd &drive_c, Fd &source,
                 std::string &error) {
    Fd top;
    top.fd = open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    drive_c.fd = top.fd < 0
                     ? -1
                     : openat(top.fd, "drive_c", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    source.fd = drive_c.fd < 0 ? -1
                               : openat(drive_c.fd, name.c_str(),
                                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (source.fd < 0 || fstat(source.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = source.fd < 0 ? failure("the driver's output " + name)
                              : "the driver's output " + name + " is no regular file";
        return false;
    }
    return true;
}

} // namespace

std::string output_file_stem(int job_id, std::string_view title) {
    std::string safe;
    for (char c : title.substr(0, 60)) {
        bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || (c == '.' && !safe.empty());
        safe += kept ? c : '_';
    }
    return "job-" + std::to_string(job_id) + (safe.empty() ? "" : "-" + safe);
}

std::string output_extension(std::string_view head) {
    if (head.substr(0, 4) == "%PDF")
        return ".pdf";
    // PostScript, also behind the PJL or Ctrl-D that drivers put in front.
    if (head.substr(0, 2) == "%!" || head.substr(0, 3) == "\x04%!" ||
        (head.substr(0, 9) == "\x1b%-12345X" && head.find("%!") != std::string_view::npos))
        return ".ps";
    return ".prn";
}

OnwardResult deliver_onward_output(const std::string &prefix, const std::string &name,
                                   const std::string &destination, const std::string &title) {
    Fd drive_c, source;
    OnwardResult result;
    if (!open_output(prefix, name, drive_c, source, result.error))
        return result;
    result = send_onward(source.fd, destination, title);
    if (result.sent)
        unlinkat(drive_c.fd, name.c_str(), 0);
    return result;
}

bool deliver_output(const std::string &prefix, const std::string &name, const std::string &folder,
                    const std::string &stem, std::string &delivered, std::string &error,
                    gid_t group) {
    Fd drive_c, source, target;
    if (!open_output(prefix, name, drive_c, source, error))
        return false;
    char head[512];
    ssize_t got = pread(source.fd, head, sizeof head, 0);
    std::string ext = output_extension(std::string_view(head, got > 0 ? size_t(got) : 0));
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = failure("the output folder " + folder);
        return false;
    }
    target.fd = create_unique(folder, stem, ext, delivered);
    bool shared =
        group == gid_t(-1) || (target.fd >= 0 && fchown(target.fd, uid_t(-1), group) == 0 &&
                               fchmod(target.fd, 0640) == 0);
    if (target.fd < 0 || !shared || !copy_all(source.fd, target.fd) || fsync(target.fd) != 0) {
        error = failure("writing " + delivered);
        if (target.fd >= 0)
            unlink(delivered.c_str());
        return false;
    }
    unlinkat(drive_c.fd, name.c_str(), 0);
    return true;
}

bool deliver_to_fd(const std::string &prefix, const std::string &name, int fd, std::string &error) {
    Fd drive_c, source;
    if (!open_output(prefix, name, drive_c, source, error))
        return false;
    if (!copy_all(source.fd, fd)) {
        error = failure("handing on the driver's output");
        return false;
    }
    unlinkat(drive_c.fd, name.c_str(), 0);
    return true;
}

uint64_t output_page_count(const std::string &prefix, const std::string &name) {
    Fd drive_c, source;
    std::string error;
    if (!open_output(prefix, name, drive_c, source, error))
        return 0;
    uint64_t pages = 0;
    char buffer[1 << 16];
    std::string carry = "\n"; // the file's first line begins after a line end too
    for (ssize_t got; (got = read(source.fd, buffer, sizeof buffer)) > 0;) {
        std::string text = carry + std::string(buffer, size_t(got));
        for (size_t at = text.find("\n%%Page:"); at != std::string::npos;
             at = text.find("\n%%Page:", at + 1))
            ++pages;
        carry = text.substr(text.size() - std::min<size_t>(text.size(), 7)); // a match cut in two
    }
    return pages;
}
