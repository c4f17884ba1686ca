#include "wine_registry.h"

#include <cctype>
#include <fstream>

namespace {

constexpr size_t MAX_REGISTRY_BYTES = size_t(64) << 20;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        c = char(tolower(static_cast<unsigned char>(c)));
    return out;
}

bool read_registry(const std::string &path, std::string &text) {
    std::ifstream file(path, std::ios::binary);
    char chunk[65536];
    while (file && text.size() < MAX_REGISTRY_BYTES) {
        file.read(chunk, sizeof chunk);
        text.append(chunk, size_t(file.gcount()));
    }
    return file.is_open();
}

} // namespace

std::optional<std::map<std::string, std::string>> registry_values(std::string_view text,
                                                                  std::string_view key) {
    std::string header = "[";
    for (char c : key)
        header += c == '\\' ? std::string("\\\\") : std::string(1, c);
    header = lower(header + "]");
    std::optional<std::map<std::string, std::string>> values;
    for (size_t at = 0; at < text.size();) {
        size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.front() == '[') {
            if (values) // a key's values stand together; the rest is not read
                break;
            if (lower(line.substr(0, header.size())) == header)
                values.emplace();
        } else if (values && !line.empty() && line.front() == '"') {
            size_t split = line.find("\"=");
            if (split != std::string_view::npos)
                (*values)[lower(line.substr(1, split - 1))] = std::string(line.substr(split + 2));
        }
    }
    return values;
}

std::string default_printer_in(std::string_view user_reg) {
    auto values =
        registry_values(user_reg, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows");
    std::string device = values && values->count("device") ? values->at("device") : "";
    size_t first = device.find_first_not_of('"');
    device = first == std::string::npos ? "" : device.substr(first);
    device = device.substr(0, device.find(','));
    while (!device.empty() && device.back() == '"')
        device.pop_back();
    return device;
}

std::string default_printer(const std::string &prefix) {
    std::string text;
    return read_registry(prefix + "/user.reg", text) ? default_printer_in(text) : "";
}

bool window_font_linked(const std::string &prefix) {
    std::string text;
    if (!read_registry(prefix + "/system.reg", text))
        return true;
    auto links = registry_values(
        text, "Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink");
    for (const char *face : {"system", "tahoma"})
        if (!links || !links->count(face) ||
            links->at(face).find("wqy-microhei.ttc") == std::string::npos)
            return false;
    return true;
}
