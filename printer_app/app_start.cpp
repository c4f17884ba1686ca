#include "app_start.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string failed(const std::string &what, int error = errno) {
    return what + ": " + strerror(error);
}

// Whether a listener could bind the address as the printer system does
// (with SO_REUSEADDR); an address this machine lacks counts as free.
bool address_free(sockaddr *address, socklen_t size) {
    int fd = socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bool free = bind(fd, address, size) == 0 || errno != EADDRINUSE;
    close(fd);
    return free;
}

} // namespace

std::string check_prefix(const std::string &prefix) {
    struct stat info {};
    if (stat(prefix.c_str(), &info) != 0)
        return failed("the Wine prefix " + prefix +
                      " cannot be used (make it with wineboot, or "
                      "set WINEPREFIX)");
    if (!S_ISDIR(info.st_mode))
        return "the Wine prefix " + prefix + " is not a folder";
    return "";
}

std::string prefix_exposure(const std::string &prefix) {
    struct stat info {};
    if (stat(prefix.c_str(), &info) != 0 || (info.st_mode & 044) == 0)
        return "";
    return "other users can list the Wine prefix " + prefix +
           " and see what its jobs are called (chmod 700 " + prefix + " keeps them out)";
}

std::string prepare_output_folder(const std::string &folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return failed("the output folder " + folder + " cannot be made");
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return failed("the output folder " + folder + " cannot be written");
    return "";
}

std::string prepare_spool_folder(const std::string &folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return failed("the spool folder " + folder + " cannot be made");
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0)
        return failed("the spool folder " + folder + " cannot be used");
    if (!S_ISDIR(info.st_mode) || info.st_uid != getuid() || (info.st_mode & 077) != 0)
        return "the spool folder " + folder + " is not a folder of this user's alone";
    return "";
}

std::string hold_prefix(const std::string &prefix, int &fd) {
    const std::string path = prefix + "/.tavri-printer-app.lock";
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0)
        return failed("the lock " + path + " cannot be opened");
    if (info.st_uid != getuid() || !S_ISREG(info.st_mode))
        return "the lock " + path + " is not this user's file";
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? "another tavri-printer-app serves the Wine prefix " + prefix
                                    : failed("the lock " + path + " cannot be taken");
    return "";
}

std::string check_port_free(int port) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(uint16_t(port));
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(uint16_t(port));
    v6.sin6_addr = in6addr_loopback;
    if (!address_free(reinterpret_cast<sockaddr *>(&v4), sizeof v4) ||
        !address_free(reinterpret_cast<sockaddr *>(&v6), sizeof v6))
        return "port " + std::to_string(port) +
               " is in use on this machine (another tavri-printer-app?)";
    return "";
}
