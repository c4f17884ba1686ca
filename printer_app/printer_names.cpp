#include "printer_names.h"

#include <algorithm>

#include <strings.h>

namespace {

constexpr size_t MAX_NAME = 100;

bool kept(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

std::string printer_name_for(std::string_view wine_name) {
    std::string name;
    for (char c : wine_name) {
        if (kept(c))
            name += c;
        else if (name.empty() || name.back() != '_')
            name += '_';
    }
    size_t first = name.find_first_not_of('_'), last = name.find_last_not_of('_');
    name = first == std::string::npos ? "" : name.substr(first, last - first + 1);
    if (name.empty())
        return "printer";
    if (!is_letter(name[0]))
        name = "printer-" + name;
    return name.substr(0, MAX_NAME);
}

std::string unused_printer_name(std::string_view wine_name, const std::vector<std::string> &taken) {
    auto is_taken = [&](const std::string &name) {
        return std::any_of(taken.begin(), taken.end(), [&](const std::string &other) {
            return strcasecmp(other.c_str(), name.c_str()) == 0;
        });
    };
    std::string base = printer_name_for(wine_name), name = base;
    for (int n = 2; is_taken(name); ++n)
        name = base + "-" + std::to_string(n);
    return name;
}

std::vector<std::string> unique_printer_names(const std::vector<std::string> &wine_names) {
    std::vector<std::string> names;
    for (const std::string &wine_name : wine_names)
        names.push_back(unused_printer_name(wine_name, names));
    return names;
}

PrinterChanges plan_printer_changes(const std::vector<std::string> &wine_names,
                                    const std::vector<ServedPrinter> &served,
                                    const std::set<std::string> &withdrawn) {
    PrinterChanges changes;
    std::vector<std::string> taken;
    for (const ServedPrinter &printer : served) {
        taken.push_back(printer.name);
        bool gone =
            std::find(wine_names.begin(), wine_names.end(), printer.wine_name) == wine_names.end();
        if (!printer.wine_name.empty() && gone && !printer.busy)
            changes.remove.push_back(printer.id);
    }
    for (const std::string &wine_name : wine_names) {
        bool served_already =
            std::any_of(served.begin(), served.end(),
                        [&](const ServedPrinter &p) { return p.wine_name == wine_name; });
        bool added_already = std::any_of(changes.add.begin(), changes.add.end(),
                                         [&](const auto &add) { return add.first == wine_name; });
        if (served_already || added_already || withdrawn.count(wine_name))
            continue;
        std::string name = unused_printer_name(wine_name, taken);
        taken.push_back(name);
        changes.add.emplace_back(wine_name, name);
    }
    return changes;
}

std::set<std::string> withdrawn_printers(const std::vector<std::string> &wine_names,
                                         const std::set<std::string> &served_before,
                                         const std::vector<ServedPrinter> &served,
                                         std::set<std::string> withdrawn) {
    auto in_prefix = [&](const std::string &wine_name) {
        return std::find(wine_names.begin(), wine_names.end(), wine_name) != wine_names.end();
    };
    std::erase_if(withdrawn, [&](const std::string &wine_name) { return !in_prefix(wine_name); });
    for (const std::string &wine_name : served_before)
        if (in_prefix(wine_name) &&
            std::none_of(served.begin(), served.end(),
                         [&](const ServedPrinter &p) { return p.wine_name == wine_name; }))
            withdrawn.insert(wine_name);
    return withdrawn;
}

std::string dns_sd_name_for(std::string_view printer_name, std::string_view user,
                            std::string_view prefix) {
    std::string_view folder = prefix.substr(prefix.find_last_of('/') + 1);
    std::string owner = " (" + std::string(user) +
                        (folder.empty() || folder == ".wine" ? "" : ", " + std::string(folder)) +
                        ")";
    constexpr size_t DNS_LABEL = 63;
    owner = owner.substr(0, DNS_LABEL / 2);
    return std::string(printer_name.substr(0, DNS_LABEL - owner.size())) + owner;
}
