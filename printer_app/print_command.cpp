// tavri-print: documents printed from a shell through the Windows program,
// on the same engine as the printer application. The output file's unix
// path goes to standard output; progress and failures to standard error.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>

#include <sys/stat.h>
#include <unistd.h>

#include "app_config.h"
#include "capabilities_json.h"
#include "command_options.h"
#include "document_job.h"
#include "job_settings.h"
#include "wine_query.h"
#include "wine_registry.h"

namespace {

constexpr const char *NAME = "tavri-print";
constexpr const char *INSTALLED_EXE = "/usr/lib/tavri-printer-proxy/tavri-printer-proxy.exe";
constexpr int EXIT_INTERRUPTED = 130;

volatile sig_atomic_t interrupted = 0;

void say(const std::string &text) {
    fprintf(stderr, "%s: %s\n", NAME, text.c_str());
}

// A refusal before the job begins, as the exit status 1.
int refuse(const std::string &text) {
    say(text);
    return 1;
}

bool exists(const std::string &path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// $PROXY_EXE; else the packaged program, unless this command runs from a
// checkout's build folder, whose own build of the program is the one to run.
std::string default_exe() {
    if (const char *exe = getenv("PROXY_EXE"); exe && *exe)
        return exe;
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string source = length > 0 ? std::string(self, size_t(length)) : "";
    for (int up = 0; up < 2; ++up)
        source = source.substr(0, source.find_last_of('/'));
    bool checkout = !source.empty() && exists(source + "/CMakeLists.txt");
    if (!checkout && exists(INSTALLED_EXE))
        return INSTALLED_EXE;
    return env_or("PROXY_BUILD_DIR", source + "/build") + "/tavri-printer-proxy.exe";
}

// How the query program runs, for --list, --capabilities and the font link;
// its prefix is the job's.
AppConfig query_config(const CommandOptions &o) {
    AppConfig config = config_from_environment();
    config.wine = o.wine_run;
    config.exe = o.exe;
    config.query_exe = o.exe.substr(0, o.exe.find_last_of('/') + 1) + "tavri-printer-query.exe";
    return config;
}

int list_printers(const AppConfig &config) {
    std::vector<WinePrinter> printers;
    std::string error;
    if (!query_wine_printers(config, printers, error))
        return refuse(error);
    for (const WinePrinter &p : printers)
        printf("%s %s\n", p.is_default ? "*" : " ", p.name.c_str());
    return 0;
}

int print_capabilities(const AppConfig &config, const std::string &printer) {
    DriverReport report;
    std::string error;
    if (!query_driver_report(config, printer, report, error))
        return refuse(error);
    fputs(capabilities_json(report, choose_driver_settings(report)).c_str(), stdout);
    return 0;
}

// The output name: the one asked for, unless it exists and may not be
// replaced, else a new one that names the time. Empty after a refusal.
std::string choose_output(const CommandOptions &o, const std::string &prefix) {
    if (!o.output.empty()) {
        if (exists(drive_c_path(prefix, o.output)) && !o.overwrite) {
            say(drive_c_path(prefix, o.output) +
                " exists: choose another --output, or --overwrite");
            return "";
        }
        return o.output;
    }
    char stamp[64];
    time_t now = time(nullptr);
    strftime(stamp, sizeof stamp, "tavri-print-%Y%m%d-%H%M%S", localtime(&now));
    for (int number = 1; number < 1000; ++number) {
        std::string name = stamp + (number > 1 ? "-" + std::to_string(number) : "") + ".ps";
        if (!exists(drive_c_path(prefix, name)))
            return name;
    }
    say(std::string("no free output name ") + stamp + "-N.ps on drive C:");
    return "";
}

JobSettings settings_from(const CommandOptions &o, const std::string &output) {
    JobSettings s;
    s.job_id = o.job_id;
    s.printer = o.printer;
    s.output_name = output;
    s.paper = o.paper;
    s.paper_source = o.paper_source;
    s.duplex = o.duplex;
    s.copies = o.copies;
    s.collate = o.collate;
    s.quality = o.quality;
    s.y_dpi = o.y_resolution;
    s.color = record_colour(o.color);
    s.scale = o.scale == ScaleChoice::FIT ? 1 : 0; // how BMP pages lie on the page
    s.code_page = o.encoding;
    return s;
}

WineSetup setup_from(const CommandOptions &o, const std::string &prefix) {
    WineSetup setup;
    setup.wine = o.wine_run;
    setup.exe = o.exe;
    setup.prefix = prefix;
    setup.timeouts.connect_ms = int(o.connect_timeout * 1000);
    setup.timeouts.answer_ms = int(o.timeout * 1000);
    setup.timeouts.heartbeat_ms = int(o.heartbeat * 1000);
    return setup;
}

// What the documents are, from their first bytes; false after a refusal.
bool sniff_files(const CommandOptions &o, std::vector<JobDocument> &files, std::string &error) {
    for (const std::string &path : o.files) {
        char head[1024];
        FILE *file = fopen(path.c_str(), "rbe");
        size_t got = file ? fread(head, 1, sizeof head, file) : 0;
        if (file)
            fclose(file);
        JobDocument d{path, path, DocumentKind::PDF};
        if (!sniff_document_kind(std::string_view(head, got), d.kind)) {
            error = path + " is neither PDF, PostScript, BMP, PNG nor JPEG";
            return false;
        }
        files.push_back(d);
    }
    return true;
}

// Progress on standard error: a bar redrawn on a terminal, else one line a page.
struct Progress {
    bool bar = false;
    uint32_t total = 0;
    std::chrono::steady_clock::time_point begun;
};

std::string clock_text(double seconds) {
    char text[32];
    snprintf(text, sizeof text, "%d:%02d", int(seconds) / 60, int(seconds) % 60);
    return text;
}

void draw_bar(const Progress &p, uint32_t done) {
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - p.begun).count();
    std::string left = done == 0 ? "--:--" : clock_text(elapsed * (p.total - done) / done);
    uint32_t filled = 30 * done / p.total;
    fprintf(stderr, "\r[%s%s] %u/%u pages  %s elapsed  %s left ", std::string(filled, '#').c_str(),
            std::string(30 - filled, '.').c_str(), done, p.total, clock_text(elapsed).c_str(),
            left.c_str());
    fflush(stderr);
}

void planned(void *context, uint32_t pages) {
    auto &p = *static_cast<Progress *>(context);
    p.total = pages;
    p.begun = std::chrono::steady_clock::now();
    if (p.bar)
        draw_bar(p, 0);
}

void printed(void *context, uint32_t number) {
    auto &p = *static_cast<Progress *>(context);
    if (p.bar)
        return draw_bar(p, number);
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - p.begun).count();
    say("page " + std::to_string(number) + "/" + std::to_string(p.total) + " printed (" +
        clock_text(elapsed) + ")");
}

bool must_stop(void *) {
    return interrupted != 0;
}

// One interruption, one clean-up: a second signal changes nothing.
void on_signal(int) {
    interrupted = 1;
}

void catch_signals() {
    struct sigaction action {};
    action.sa_handler = on_signal; // no SA_RESTART: a wait ends and asks
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// The engine's request from the options: pages numbered through the job,
// copies left to the driver, pages fitted unless asked as they are.
void request_pages(DocumentJob &job, const CommandOptions &o) {
    job.ranges = o.ranges;
    job.ranges_per_document = false;
    job.colour = o.color.value_or(PageColour::COLOR);
    job.layout.fit = o.scale == ScaleChoice::AS_IS ? PageFit::NONE : PageFit::FIT;
    job.x_dpi = job.y_dpi = o.dpi.value_or(o.y_resolution.value_or(0));
    job.measure = job.x_dpi == 0;
}

int print_files(const CommandOptions &o, const std::string &prefix, const std::string &output) {
    Progress progress;
    progress.bar = isatty(STDERR_FILENO);
    DocumentJob job;
    job.host = {&progress, must_stop, nullptr, planned, printed, nullptr};
    request_pages(job, o);
    job.wine.setup = setup_from(o, prefix);
    job.wine.settings = settings_from(o, output);
    job.wine.peer.port = o.port;
    job.wine.peer.program_log = o.program_log;
    std::vector<JobDocument> files;
    bool printed = sniff_files(o, files, job.error) && open_documents(job, files) &&
                   print_documents(job) && finish_documents(job);
    if (progress.bar && progress.total)
        fputs("\n", stderr);
    if (interrupted)
        return say("interrupted; the job was ended"), EXIT_INTERRUPTED;
    if (!printed)
        return refuse("printing on the Wine printer " + o.printer + " failed: " + job.error);
    say("done: " + job.output);
    printf("%s\n", job.output.c_str());
    return 0;
}

// The checks that refuse a job before it begins, then the job.
int run(CommandOptions &o) {
    const AppConfig query = query_config(o);
    const std::string &prefix = query.prefix;
    if (o.list)
        return list_printers(query);
    for (const std::string &path : o.files) {
        struct stat info {};
        if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return refuse("no such file: " + path);
    }
    if (o.printer.empty())
        o.printer = default_printer(prefix);
    if (o.printer.empty())
        return refuse("the Wine prefix " + prefix +
                      " has no default printer: name one with --printer");
    if (o.capabilities)
        return print_capabilities(query, o.printer);
    std::string output = choose_output(o, prefix);
    if (output.empty())
        return 1;
    std::vector<unsigned char> record;
    std::string error;
    if (!build_start_print(settings_from(o, output), 1, record, error))
        return refuse(error);
    if (!window_font_linked(prefix) && exists(query.query_exe))
        link_window_font(query, error); // else the labels show as boxes
    catch_signals();
    return print_files(o, prefix, output);
}

} // namespace

int main(int argc, char **argv) {
    umask(077); // the pages, the output and the log are the user's alone
    CommandOptions options;
    // $WINE, else Debian's 64-bit loader, else whatever `wine` is: the
    // user's own Wine, as the application finds it.
    const std::string wine = config_from_environment().wine;
    options.wine_run = wine;
    std::string problem = parse_command_line({argv + 1, argv + argc}, options);
    if (!problem.empty()) {
        fprintf(stderr, "%s%s: error: %s\n", usage_text().c_str(), NAME, problem.c_str());
        return 2;
    }
    if (options.help) {
        fputs(help_text(wine).c_str(), stdout);
        return 0;
    }
    if (options.exe.empty())
        options.exe = default_exe();
    return run(options);
}
