#include "command_socket.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string prefix_served;

// A folder another user cannot reach or replace: a real folder, `uid`'s,
// closed to everyone else.
bool private_folder(const std::string &path, uid_t uid) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid &&
           (info.st_mode & 077) == 0;
}

std::string socket_folder(uid_t uid) {
    if (uid == 0)
        return "/run/tavri-printer-app";
    std::string runtime = "/run/user/" + std::to_string(uid);
    if (private_folder(runtime, uid))
        return runtime;
    const char *tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/tavri-printer-app-" + std::to_string(uid);
}

} // namespace

void set_command_socket_prefix(const std::string &prefix) {
    prefix_served = prefix;
}

std::string prepare_command_socket_folder() {
    std::string folder = socket_folder(getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot make the folder " + folder + " of the command socket: " + strerror(errno);
    if (!private_folder(folder, getuid()))
        return "the folder " + folder + " of the command socket is not yours alone";
    return "";
}

// Both the server and the command line ask the library for the path; a
// folder that is not the user's alone gives one that can never be reached,
// so that nothing is sent to whoever holds it.
extern "C" char *_papplMainloopGetServerPath(const char *base_name, uid_t uid, char *buffer,
                                             size_t size) {
    std::string folder = socket_folder(uid);
    if (!private_folder(folder, uid))
        folder = "/dev/null";
    unsigned long prefix_hash = std::hash<std::string>()(prefix_served) & 0xffffffff;
    snprintf(buffer, size, "%s/%s-%08lx.sock", folder.c_str(), base_name, prefix_hash);
    return buffer;
}
