// tavri-cups-worker: the part of a CUPS job that runs as the Wine prefix's
// owner, on the engine that every front end shares. The backend's root part
// parses the queue's device URI, becomes the owner and starts this with
//     tavri-cups-worker JOB-ID TITLE OPTIONS
// and what the device URI says in the environment: TAVRI_PRINTER, TAVRI_EXE,
// TAVRI_WINE, TAVRI_FOLDER (none: the output goes back to root),
// TAVRI_GROUP, TAVRI_MAX_SECONDS, TAVRI_MAX_OUTPUT_MIB, TAVRI_MAX_PAGE_MIB,
// and TAVRI_QUEUE and TAVRI_DESTINATION (without its password), where root
// hands the output on: a destination that leads back stops the queue.
//     tavri-cups-worker --check-destination QUEUE DESTINATION
// says the same to the queue command, before a queue is made.
// The document arrives on standard input; the driver's output goes into the
// folder, else to standard output (a pipe back to root); every line on
// standard error is one message to cupsd ("INFO: ...", "ERROR: ..."); the
// exit status is CUPS's (0 printed, 1 try again, 4 stop the queue, 5 cancel).
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "base/protocol_codes.h"
#include "cups_options.h"
#include "delivery.h"
#include "document_job.h"
#include "fd_io.h"
#include "job_settings.h"
#include "onward.h"
#include "page_image.h"
#include "saved_jobs.h"

namespace {

enum : int { CUPS_OK = 0, CUPS_FAILED = 1, CUPS_STOP = 4, CUPS_CANCEL = 5 };

constexpr uint64_t MAX_DOCUMENT = uint64_t(4) << 30;
constexpr uint64_t MIB = 1 << 20;

volatile sig_atomic_t cancelled = 0;

// One line to cupsd: a line end in a text (a title, a driver's words)
// would start a command of its own.
void message(const char *kind, std::string text) {
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    fprintf(stderr, "%s: %s\n", kind, text.substr(0, 1000).c_str());
    fflush(stderr);
}

int fail(int code, const std::string &text) {
    message("ERROR", text);
    return code;
}

struct Worker {
    std::string job_id, title, options;
    std::string prefix, label, output_name, folder;
    uint64_t max_seconds = 3600, max_output = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::string over;   // the bound the job went past
    uint32_t pages = 0; // to print
};

// What the queue's device URI says of `name`, as root passed it on.
std::string setting(std::string name) {
    for (char &c : name)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    const char *value = getenv(("TAVRI_" + name).c_str());
    return value ? value : "";
}

// A limit the queue sets, or its default; false for one that is no
// positive whole number.
bool read_limit(const char *name, uint64_t &value) {
    std::string text = setting(name);
    if (text.empty())
        return true;
    char *end = nullptr;
    unsigned long long n = strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || n == 0 || n > 999999999 || text[0] == '+' || text[0] == '-')
        return false;
    value = n;
    return true;
}

bool exists(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool on_path(const char *program) {
    const char *path = getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= folders.size();) {
        size_t end = std::min(folders.find(':', at), folders.size());
        if (access((folders.substr(at, end - at) + "/" + program).c_str(), X_OK) == 0)
            return true;
        at = end + 1;
    }
    return false;
}

// Why the queue's destination would bring its jobs round again; empty when
// it would not, or when CUPS cannot be asked now.
std::string loop_refusal(const std::string &queue, const std::string &destination) {
    if (destination.empty())
        return "";
    OnwardCheck check;
    check.queues_known = cups_queues(check.queues);
    check.from_queue = queue;
    check.missing_refused = false; // the queue command says so in its own words
    return onward_refusal(destination, check);
}

// What keeps every job of the queue from printing until it is mended.
std::string setup_fault(const Worker &w, const WineSetup &wine) {
    if (!exists(w.prefix + "/system.reg"))
        return "The Wine prefix " + w.prefix + " of " + (getenv("USER") ?: "?") + " does not exist";
    if (!exists(wine.exe))
        return "The program " + wine.exe + " does not exist";
    if (!on_path("gs"))
        return "Ghostscript (gs) is not installed";
    if (!exists(wine.wine) && !on_path(wine.wine.c_str()))
        return "Wine (" + wine.wine + ") is not installed";
    std::string loop = loop_refusal(setting("queue"), setting("destination"));
    return loop.empty() ? "" : "The destination: " + loop;
}

// Whether the owner can reach the local X server of DISPLAY with the
// authority file (a remote display is taken on trust).
bool display_usable() {
    const char *display = getenv("DISPLAY");
    unsigned number = 0;
    char rest = 0;
    if (!display || (sscanf(display, ":%u%c", &number, &rest) < 1 &&
                     sscanf(display, "unix:%u%c", &number, &rest) < 1))
        return true;
    const char *xauthority = getenv("XAUTHORITY");
    if (xauthority && access(xauthority, R_OK) != 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "/tmp/.X11-unix/X%u", number);
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool reached =
        probe >= 0 && connect(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (probe >= 0)
        close(probe);
    return reached;
}

// The document copied from standard input into `path`; a refusal's text, else empty.
std::string take_document(const std::string &path, const std::string &label) {
    int out = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0)
        return "no room for the document in " + path + ": " + strerror(errno);
    uint64_t size = 0;
    char buffer[1 << 16];
    bool written = true;
    for (ssize_t got; written && (got = read(STDIN_FILENO, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR && !cancelled)
            continue;
        size += got > 0 ? uint64_t(got) : 0;
        written = got > 0 && size <= MAX_DOCUMENT && write_all(out, buffer, size_t(got));
    }
    close(out);
    if (size > MAX_DOCUMENT)
        return "the document is larger than " + std::to_string(MAX_DOCUMENT >> 30) + " GiB";
    if (!written)
        return "the document could not be taken in: " + std::string(strerror(errno));
    if (size == 0)
        return label + " reached the printer empty: CUPS's filters made nothing of it (the "
                       "job's log says why)";
    return "";
}

bool must_stop(void *context) {
    auto &w = *static_cast<Worker *>(context);
    auto ran = std::chrono::steady_clock::now() - w.started;
    struct stat info {};
    std::string output = drive_c_path(w.prefix, w.output_name);
    if (w.over.empty() && ran > std::chrono::seconds(w.max_seconds))
        w.over = "it ran for longer than " + std::to_string(w.max_seconds) + " s";
    if (w.over.empty() && stat(output.c_str(), &info) == 0 && uint64_t(info.st_size) > w.max_output)
        w.over = "the driver's output grew past " + std::to_string(w.max_output / MIB) + " MiB";
    return cancelled || !w.over.empty();
}

void planned(void *context, uint32_t pages) {
    static_cast<Worker *>(context)->pages = pages;
    message("INFO", "Printing " + std::to_string(pages) + " pages on the Wine printer");
}

void printed(void *context, uint32_t number) {
    message("INFO", "Printed page " + std::to_string(number) + " of " +
                        std::to_string(static_cast<Worker *>(context)->pages));
}

void logged(void *, const std::string &line) {
    message("DEBUG", line);
}

void on_sigterm(int) {
    cancelled = 1;
}

// The device settings that the job's options and the queue call for.
JobSettings job_settings(const Worker &w, const CupsJobChoices &c) {
    JobSettings s;
    s.job_id = uint32_t(strtoull(w.job_id.c_str(), nullptr, 10));
    s.printer = setting("printer");
    s.output_name = w.output_name;
    s.copies = 1; // CUPS's filters made the copies as pages
    s.duplex = c.duplex;
    s.paper = c.paper;
    s.paper_source = c.paper_source;
    s.quality = c.quality;
    s.y_dpi = c.y_dpi;
    s.color = record_colour(c.colour);
    return s;
}

// The paper of the first page CUPS laid out, unless the job names a custom one.
bool paper_from_document(DocumentJob &job) {
    const JobDocument &first = job.documents.front();
    if (job.wine.settings.paper || first.width <= 0 || first.height <= 0)
        return true;
    auto width = uint32_t(first.width + 0.5), height = uint32_t(first.height + 0.5);
    if (width == 0 || height == 0 || width > 14400 || height > 14400) {
        job.fault = JobFault::BAD_DOCUMENT;
        job.error = "the pages are " + std::to_string(width) + " x " + std::to_string(height) +
                    " points: no paper is that size";
        return false;
    }
    job.wine.settings.paper = width << 16 | height;
    return true;
}

// Where the driver's output goes: the queue's folder, else root's pipe.
int deliver(const Worker &w) {
    std::string error, delivered;
    uint64_t pages = output_page_count(w.prefix, w.output_name);
    if (w.folder.empty()) {
        if (!deliver_to_fd(w.prefix, w.output_name, STDOUT_FILENO, error))
            return fail(CUPS_FAILED, "Printing " + w.label + " failed: " + error);
    } else {
        gid_t group = gid_t(-1);
        if (std::string name = setting("group"); !name.empty()) {
            const struct group *g = getgrnam(name.c_str());
            if (!g)
                return fail(CUPS_STOP, "The queue's group " + name + " does not exist");
            group = g->gr_gid;
        }
        std::string stem = output_file_stem(atoi(w.job_id.c_str()), w.title);
        if (!deliver_output(w.prefix, w.output_name, w.folder, stem, delivered, error, group))
            return fail(CUPS_STOP,
                        "The destination folder " + w.folder + " cannot take the output: " + error);
        message("INFO", "Delivered to " + delivered);
    }
    message("PAGE", "total " + std::to_string(pages));
    return CUPS_OK;
}

// Whether the program refused what came from the document: a page, or a
// paper too large to answer for.
bool document_refused(const WineJob &wine) {
    return wine.status != 0 && (wine.failed_request.starts_with("page ") ||
                                wine.failed_request == "the page-size query");
}

// What failed, in the user's terms, and what CUPS should do about it.
int job_failure(const Worker &w, const DocumentJob &job) {
    const std::string printer = setting("printer");
    if (cancelled)
        return message("INFO", "Job cancelled"), CUPS_CANCEL;
    if (!w.over.empty())
        return fail(CUPS_CANCEL, w.label + " was cancelled: " + w.over);
    if (job.wine.user_cancelled)
        return fail(CUPS_CANCEL, w.label + " was cancelled in the progress window");
    if (job.wine.status == STATUS_PRINTER_NOT_OPENED &&
        job.wine.failed_request == "the start-print request")
        return fail(CUPS_STOP, "The Wine printer " + printer + " cannot be opened in " + w.prefix +
                                   " (status 8): is it installed there?");
    if (job.fault == JobFault::BAD_DOCUMENT || job.fault == JobFault::UNPRINTABLE ||
        document_refused(job.wine))
        return fail(CUPS_CANCEL, "Cannot print " + w.label + ": " + job.error);
    return fail(CUPS_FAILED, "Wine printer " + printer + ": " + job.error);
}

int print_job(Worker &w, DocumentJob &job) {
    std::string folder = make_page_folder("tavri-app");
    if (folder.empty())
        return fail(CUPS_FAILED, "no folder for the job's document");
    std::string document = folder + "/document", refusal = take_document(document, w.label);
    if (!refusal.empty()) {
        std::filesystem::remove_all(folder);
        return fail(CUPS_CANCEL, refusal);
    }
    char head[1024];
    int fd = open(document.c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t got = fd >= 0 ? read(fd, head, sizeof head) : -1;
    if (fd >= 0)
        close(fd);
    JobDocument file{document, w.label, DocumentKind::PDF};
    bool done = sniff_document_kind(std::string_view(head, got > 0 ? size_t(got) : 0), file.kind);
    if (!done)
        job.fault = JobFault::BAD_DOCUMENT,
        job.error = "it is neither PDF, PostScript nor a picture";
    message("INFO", "Starting the Wine printer " + setting("printer"));
    done = done && open_documents(job, {file}) && paper_from_document(job) &&
           print_documents(job) && finish_documents(job);
    std::filesystem::remove_all(folder);
    return done ? deliver(w) : job_failure(w, job);
}

} // namespace

int main(int argc, char **argv) {
    umask(077); // the document, the pages and the output are the owner's alone
    Worker w;
    if (argc == 4 && strcmp(argv[1], "--check-destination") == 0) { // the queue command's
        std::string loop = loop_refusal(argv[2], argv[3]);
        if (!loop.empty())
            fprintf(stderr, "tavri-cups-worker: %s\n", loop.c_str());
        return loop.empty() ? 0 : 1;
    }
    if (argc < 4)
        return fail(CUPS_STOP, "Usage: tavri-cups-worker JOB-ID TITLE OPTIONS");
    w.job_id = argv[1], w.title = argv[2], w.options = argv[3];
    w.label = "\"" + (w.title.empty() ? "job " + w.job_id : w.title) + "\"";
    w.prefix = getenv("WINEPREFIX") ?: "";
    w.folder = setting("folder");
    w.output_name = "tavri-app-" + std::to_string(getpid()) + "-cups-" + w.job_id + ".prn";
    uint64_t max_page_mib = 1024, max_output_mib = 4096;
    if (setting("printer").empty() || !read_limit("max_seconds", w.max_seconds) ||
        !read_limit("max_output_mib", max_output_mib) || !read_limit("max_page_mib", max_page_mib))
        return fail(CUPS_STOP, "The queue's settings are not understood");
    w.max_output = max_output_mib * MIB;

    struct sigaction action {};
    action.sa_handler = on_sigterm; // no SA_RESTART: a wait ends and asks
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    DocumentJob job;
    job.host = {&w, must_stop, nullptr, planned, printed, logged};
    job.limits.max_page_bytes = max_page_mib * MIB;
    job.wine.setup.wine = setting("wine").empty() ? "/usr/lib/wine/wine64" : setting("wine");
    job.wine.setup.exe = setting("exe");
    job.wine.setup.prefix = w.prefix;
    std::string fault = setup_fault(w, job.wine.setup);
    if (!fault.empty())
        return fail(CUPS_STOP, fault);
    if (getenv("DISPLAY") && !display_usable())
        message("WARNING", std::string("The progress window cannot open on the display ") +
                               getenv("DISPLAY") + " (no X server there, or " +
                               (getenv("USER") ?: "?") + " may not use it): printing without it");
    sweep_leftovers("/dev/shm", w.prefix + "/drive_c", getenv("TMPDIR") ?: "/tmp");
    CupsJobChoices choices = read_cups_options(w.options);
    job.wine.settings = job_settings(w, choices);
    job.colour = choices.colour.value_or(PageColour::COLOR);
    job.layout.fit = PageFit::FIT;
    job.x_dpi = job.y_dpi = choices.y_dpi.value_or(0);
    job.measure = true;
    return print_job(w, job);
}
