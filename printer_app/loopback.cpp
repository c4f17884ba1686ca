#include "loopback.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <netinet/in.h>

namespace {

constexpr std::string_view ESTABLISHED = "01"; // a closed socket lingers as root's

std::string hex_words(const void *address, size_t size) {
    std::string out;
    for (size_t at = 0; at + 4 <= size; at += 4) {
        uint32_t word;
        memcpy(&word, static_cast<const unsigned char *>(address) + at, 4);
        char text[9];
        snprintf(text, sizeof text, "%08X", word);
        out += text;
    }
    return out;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while ((at = line.find_first_not_of(' ', at)) != std::string_view::npos) {
        size_t end = line.find(' ', at);
        out.push_back(line.substr(at, end - at));
        at = end;
    }
    return out;
}

} // namespace

std::string table_address(const sockaddr_storage &address) {
    std::string text;
    uint16_t port = 0;
    if (address.ss_family == AF_INET) {
        const auto &v4 = reinterpret_cast<const sockaddr_in &>(address);
        text = hex_words(&v4.sin_addr, sizeof v4.sin_addr);
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto &v6 = reinterpret_cast<const sockaddr_in6 &>(address);
        text = hex_words(&v6.sin6_addr, sizeof v6.sin6_addr);
        port = ntohs(v6.sin6_port);
    }
    char suffix[6];
    snprintf(suffix, sizeof suffix, ":%04X", port);
    return text + suffix;
}

std::optional<uid_t> find_socket_owner(std::string_view table, std::string_view local,
                                       std::string_view remote) {
    size_t at = table.find('\n'); // the heading
    while (at != std::string_view::npos && at < table.size()) {
        size_t end = table.find('\n', at + 1);
        std::vector<std::string_view> f = words(table.substr(at + 1, end - at - 1));
        at = end;
        if (f.size() < 8 || f[1] != local || f[2] != remote || f[3] != ESTABLISHED)
            continue;
        uid_t uid;
        auto [ptr, error] = std::from_chars(f[7].data(), f[7].data() + f[7].size(), uid);
        if (error == std::errc() && ptr == f[7].data() + f[7].size())
            return uid;
    }
    return std::nullopt;
}

std::optional<uid_t> peer_uid(int fd) {
    sockaddr_storage ours{}, theirs{};
    socklen_t ours_size = sizeof ours, theirs_size = sizeof theirs;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&ours), &ours_size) != 0)
        return std::nullopt;
    if (ours.ss_family == AF_UNIX) {
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
            return std::nullopt;
        return credentials.uid;
    }
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&theirs), &theirs_size) != 0)
        return std::nullopt;
    std::ifstream file(ours.ss_family == AF_INET6 ? "/proc/net/tcp6" : "/proc/net/tcp");
    std::stringstream table;
    table << file.rdbuf();
    // Their socket's entry: its local address is their end.
    return find_socket_owner(table.str(), table_address(theirs), table_address(ours));
}
