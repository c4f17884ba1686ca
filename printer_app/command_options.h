// tavri-print's command line: every option, its default and its help, read
// into plain values. A value that cannot work is refused here, by the
// option's name, before anything starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pdf_plan.h"

// auto: BMP files as they are, everything else fitted.
enum class ScaleChoice { AUTO, AS_IS, FIT };

struct CommandOptions {
    std::vector<std::string> files;
    // documents
    std::vector<PageRange> ranges; // none: every page
    ScaleChoice scale = ScaleChoice::AUTO;
    std::optional<uint32_t> dpi;
    uint32_t ahead = 1;
    // job; absent values stay the printer's
    std::string printer, output;
    bool overwrite = false;
    uint32_t job_id = 1;
    std::optional<uint32_t> copies, collate, duplex, paper, paper_source, y_resolution;
    std::optional<int32_t> quality;
    std::optional<PageColour> color;
    // program
    uint16_t port = 0;
    std::string exe, wine_run, program_log, encoding = "cp1252";
    double timeout = 120, connect_timeout = 60, heartbeat = 10;
    // what to do instead of printing
    bool list = false, capabilities = false, help = false;
};

// Reads argv[1..] into `options`, whose wine_run holds its default already.
// Empty on success, else the complaint, such as "argument --timeout: must
// be more than 0 and at most 86400 seconds".
std::string parse_command_line(const std::vector<std::string> &args, CommandOptions &options);

std::string usage_text();
// Every option with its default; `wine` is --wine-run's.
std::string help_text(const std::string &wine);
