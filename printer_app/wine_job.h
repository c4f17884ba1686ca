// One print job through the Windows program: start-print, the page-size
// query, one page message per BMP page, the job result, and the end of the
// session. The page total must be in the start-print record, so pages that
// arrive before it is known wait in `pending` until the job's end says how
// many there are.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "peer.h"

// Where the program comes from and which prefix it prints in.
struct WineSetup {
    std::string wine;       // Wine's loader
    std::string exe;        // tavri-printer-proxy.exe
    std::string prefix;     // WINEPREFIX
    EnvironmentChanges env; // what Wine programs of the prefix run with
    PeerTimeouts timeouts;
    int lock_timeout_ms = 3600 * 1000;
};

// The device settings of a job; absent ones stay the printer's own.
struct JobSettings {
    uint32_t job_id = 0;
    std::string printer;                  // the Wine printer, UTF-8
    std::string output_name;              // file on drive C:, relative to its root
    std::optional<uint32_t> paper;        // width << 16 | height, points
    std::optional<uint32_t> paper_source; // the driver's bin
    std::optional<uint32_t> duplex;       // 1 simplex, 2 long edge, 3 short edge
    std::optional<uint32_t> color;        // 1 monochrome, 2 colour
    std::optional<uint32_t> x_dpi, y_dpi;
    // The driver's quality (negative: draft .. high) where x_dpi is absent.
    std::optional<int32_t> quality;
    std::optional<uint32_t> copies = 1; // the application's copies arrive as pages
    std::optional<uint32_t> collate;
    uint32_t scale = 1;               // fit pages of the physical page's size onto it
    std::string code_page = "CP1252"; // the prefix's ANSI code page, for the names
};

enum : uint32_t { JOB_COLOR_MONO = 1, JOB_COLOR_COLOR = 2 };

struct WineJob {
    Peer peer;
    WineSetup setup;
    JobSettings settings;
    int lock_fd = -1;
    bool started = false;   // start-print accepted
    uint32_t announced = 0; // the page total in the start-print record
    uint32_t sent = 0;      // pages answered by the program
    uint16_t printable_width = 0, printable_height = 0;
    std::deque<std::string> pending; // page files not yet sent, oldest first
    std::string error;
    uint32_t status = 0;         // of the answer that failed, when it named one
    std::string failed_request;  // the request that answer was to
    bool user_cancelled = false; // in the progress window
};

// The start-print record in network order; false with `error` when a name
// cannot be written in the prefix's code page or does not fit, or when
// there are no pages.
bool build_start_print(const JobSettings &settings, uint32_t page_count,
                       std::vector<unsigned char> &record, std::string &error);

// Takes the prefix (one job at a time per prefix), starts the program and
// waits for its connection.
bool wine_job_launch(WineJob &job);
// Start-print with the page total, then the page-size query.
bool wine_job_start(WineJob &job, uint32_t page_count);
// Sends the pending pages, each removed once answered. `cancelled` is asked
// between pages; a cancel ends the job (wine_job_abandon).
bool wine_job_send_pages(WineJob &job, bool (*cancelled)(void *), void *context);
// The job result: the unix path of the driver's output file, which must be
// the job's own. Ends the session.
bool wine_job_finish(WineJob &job, std::string &output_path);
// Ends a job that failed or was cancelled, and the session; removes pending pages.
void wine_job_abandon(WineJob &job, const std::string &reason);

// The unix path of a name on drive C: of the prefix, as Wine maps it.
std::string drive_c_path(const std::string &prefix, const std::string &name);
