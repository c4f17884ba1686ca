#include "saved_jobs.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The value of key="..." in a saved line; empty when it has none.
std::string_view field(std::string_view line, std::string_view key) {
    std::string at = " " + std::string(key) + "=\"";
    size_t start = line.find(at);
    if (start == std::string_view::npos)
        return {};
    start += at.size();
    size_t end = line.find('"', start);
    return end == std::string_view::npos ? std::string_view{} : line.substr(start, end - start);
}

int number(std::string_view text) {
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

constexpr int ABORTED = 8;

// The line of a saved job, marked aborted when it was not finished; empty
// for a job without a document.
std::string repaired_job(std::string_view line, std::vector<int> &lost) {
    if (field(line, "format").empty())
        return "";
    std::string_view state = field(line, "state");
    if (state.empty() || number(state) >= 7) // canceled, aborted, completed
        return std::string(line);
    lost.push_back(number(field(line, "id")));
    size_t at = line.find(" state=\"") + 8;
    std::string aborted = std::string(line.substr(0, at)) + std::to_string(ABORTED) +
                          std::string(line.substr(at + state.size()));
    // A damaged line whose state swallowed its format is dropped now, as the
    // next start would drop it.
    return field(aborted, "format").empty() ? "" : aborted;
}

// The process id in NAME-PID-... or NAMEPID.d, after `prefix`; 0 for none.
pid_t owner_pid(const std::string &name, std::string_view prefix) {
    if (!name.starts_with(prefix))
        return 0;
    return number(std::string_view(name).substr(prefix.size()));
}

// A process that has ended, even one its parent has not reaped yet: a killed
// application's lock is free before then.
bool ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return kill(pid, 0) != 0 && errno == ESRCH;
    size_t name_end = line.rfind(')');
    return name_end != std::string::npos && name_end + 2 < line.size() &&
           (line[name_end + 2] == 'Z' || line[name_end + 2] == 'X');
}

bool left_behind(const std::filesystem::directory_entry &entry, pid_t pid) {
    struct stat info {};
    return pid > 0 && pid != getpid() && lstat(entry.path().c_str(), &info) == 0 &&
           info.st_uid == getuid() && ended(pid);
}

int sweep(const std::string &folder, std::initializer_list<std::string_view> prefixes) {
    int removed = 0;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename();
        for (std::string_view prefix : prefixes)
            if (left_behind(entry, owner_pid(name, prefix)) &&
                std::filesystem::remove_all(entry.path(), error) > 0)
                ++removed;
    }
    return removed;
}

} // namespace

std::string repair_saved_jobs(std::string_view state, std::vector<int> &lost) {
    std::string repaired;
    while (!state.empty()) {
        size_t end = state.find('\n');
        std::string_view line = state.substr(0, end);
        state.remove_prefix(end == std::string_view::npos ? state.size() : end + 1);
        std::string kept = line.starts_with("Job ") ? repaired_job(line, lost) : std::string(line);
        if (!kept.empty() || !line.starts_with("Job "))
            repaired += kept + "\n";
    }
    return repaired;
}

int sweep_leftovers(const std::string &shm, const std::string &drive_c, const std::string &tmp) {
    return sweep(shm, {"tavri-app-", "tavri-pdf-"}) + sweep(drive_c, {"tavri-app-"}) +
           sweep(tmp, {"pappl"});
}
