#include "app_config.h"

#include <cerrno>
#include <cstdlib>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "printer_names.h"

namespace {

constexpr const char *INSTALLED_EXE = "/usr/lib/tavri-printer-proxy/tavri-printer-proxy.exe";
constexpr const char *DEBIAN_WINE = "/usr/lib/wine/wine64";
constexpr const char *DEBIAN_WINESERVER = "/usr/lib/wine/wineserver64";

std::string home() {
    const char *home = getenv("HOME");
    if (home && *home)
        return home;
    const passwd *entry = getpwuid(getuid());
    return entry ? entry->pw_dir : "/";
}

bool exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

// One state file per prefix, so that one user's applications for two
// prefixes keep apart; its name is the prefix's path made a file name.
std::string default_state_file(const std::string &prefix) {
    std::string folder = env_or("XDG_STATE_HOME", home() + "/.local/state");
    return folder + "/tavri-printer-app/" + printer_name_for(prefix) + ".state";
}

} // namespace

std::string env_or(const char *name, const std::string &fallback) {
    const char *value = getenv(name);
    return value && *value ? value : fallback;
}

AppConfig config_from_environment() {
    AppConfig c;
    const passwd *entry = getpwuid(getuid());
    c.user = entry ? entry->pw_name : std::to_string(getuid());
    c.prefix = env_or("WINEPREFIX", home() + "/.wine");
    c.wine = env_or("WINE", exists(DEBIAN_WINE) ? DEBIAN_WINE : "wine");
    c.wineserver =
        env_or("WINESERVER", exists(DEBIAN_WINESERVER) ? DEBIAN_WINESERVER : "wineserver");
    c.exe = env_or("PROXY_EXE", INSTALLED_EXE); // a build tree's own: PROXY_EXE
    c.query_exe = c.exe.substr(0, c.exe.find_last_of('/') + 1) + "tavri-printer-query.exe";
    c.output_dir = env_or("TAVRI_OUTPUT_DIR", home() + "/tavri-printed");
    c.output_dir_chosen = getenv("TAVRI_OUTPUT_DIR") != nullptr;
    c.state_file = default_state_file(c.prefix);
    c.rescan_seconds = atoi(env_or("TAVRI_RESCAN_SECONDS", "60").c_str());
    return c;
}

bool make_parent_folders(const std::string &file) {
    for (size_t slash = file.find('/', 1); slash != std::string::npos;
         slash = file.find('/', slash + 1))
        if (mkdir(file.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    return true;
}

EnvironmentChanges wine_environment(const AppConfig &config) {
    return {"WINEPREFIX=" + config.prefix, "WINEDEBUG=" + env_or("WINEDEBUG", "-all"),
            "WINEDLLOVERRIDES=" + env_or("WINEDLLOVERRIDES", "mscoree,mshtml=")};
}
