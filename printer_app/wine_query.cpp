#include "wine_query.h"

#include <algorithm>

namespace {

constexpr size_t MAX_REPORT = 16u << 20; // no real report comes near it

bool run_query(const AppConfig &config, std::vector<std::string> args, std::string &text,
               std::string &error) {
    args.insert(args.begin(), {config.wine, config.query_exe});
    if (!run_for_output(args, wine_environment(config), config.query_timeout_ms, MAX_REPORT, text,
                        error)) {
        error = "asking Wine in " + config.prefix + ": " + error;
        return false;
    }
    return true;
}

} // namespace

bool query_wine_printers(const AppConfig &config, std::vector<WinePrinter> &printers,
                         std::string &error) {
    std::string text;
    if (!run_query(config, {"printers"}, text, error))
        return false;
    error = parse_printer_list(text, printers);
    return error.empty();
}

bool link_window_font(const AppConfig &config, std::string &error) {
    std::string text;
    return run_query(config, {"font-link"}, text, error);
}

bool query_driver_report(const AppConfig &config, const std::string &printer, DriverReport &report,
                         std::string &error) {
    std::string text;
    if (!run_query(config, {"capabilities", printer}, text, error))
        return false;
    error = parse_driver_report(text, report);
    if (!error.empty())
        error = "the driver report of " + printer + ": " + error;
    return error.empty();
}

void keep_wine_warm(const AppConfig &config) {
    int seconds = std::max(300, 3 * config.rescan_seconds);
    std::string error;
    // It detaches itself once it serves, or exits at once when another does.
    pid_t pid = spawn_child({config.wineserver, "-p" + std::to_string(seconds)},
                            wine_environment(config), -1, -1, error);
    int status = 0;
    if (pid > 0 && !wait_child(pid, 10000, &status))
        kill_child_group(pid);
}
