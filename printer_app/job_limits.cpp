#include "job_limits.h"

#include <cerrno>
#include <cstdlib>

namespace {

struct LimitOption {
    const char *name;
    uint64_t JobLimits::*field;
    unsigned shift;   // the option's unit: MiB are 20
    uint64_t highest; // in the option's unit
};

// A page image's file size is a 32-bit field; a year of running and a
// TiB of output are beyond any job worth printing.
constexpr LimitOption OPTIONS[] = {
    {"max-seconds", &JobLimits::max_seconds, 0, 365 * 24 * 3600},
    {"max-output", &JobLimits::max_output_bytes, 20, 1 << 20},
    {"max-page", &JobLimits::max_page_bytes, 20, 4095},
    {"max-pages", &JobLimits::max_pages, 0, 1000000},
    {"stall-seconds", &JobLimits::stall_seconds, 0, 24 * 3600},
};

bool parse_whole(const char *text, uint64_t highest, uint64_t &value) {
    if (*text < '0' || *text > '9')
        return false; // strtoull would take a sign or white space
    char *end = nullptr;
    errno = 0;
    value = strtoull(text, &end, 10);
    return errno == 0 && *end == '\0' && value >= 1 && value <= highest;
}

std::string mib(uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

} // namespace

std::string read_job_limits(int num_options, cups_option_t *options, JobLimits &limits) {
    for (const LimitOption &o : OPTIONS) {
        const char *text = cupsGetOption(o.name, num_options, options);
        uint64_t value = 0;
        if (!text)
            continue;
        if (!parse_whole(text, o.highest, value))
            return std::string("-o ") + o.name + " takes a whole number from 1 to " +
                   std::to_string(o.highest) + ", not \"" + text + "\"";
        limits.*o.field = value << o.shift;
    }
    return "";
}

std::string limit_passed(const JobLimits &limits, int64_t seconds, uint64_t output_bytes) {
    if (seconds >= 0 && uint64_t(seconds) >= limits.max_seconds)
        return "the job ran for longer than " + std::to_string(limits.max_seconds) + " s";
    if (output_bytes > limits.max_output_bytes)
        return "the driver's output grew past " + mib(limits.max_output_bytes);
    return "";
}

std::string spool_problem(const JobLimits &limits, uint64_t received, int64_t idle_seconds) {
    if (received > limits.max_document_bytes)
        return "the document is larger than " + mib(limits.max_document_bytes);
    if (idle_seconds >= 0 && uint64_t(idle_seconds) >= limits.stall_seconds)
        return "the sender sent nothing for " + std::to_string(limits.stall_seconds) +
               " s: the document is incomplete";
    return "";
}

std::string page_total_problem(uint64_t pages, uint64_t max_pages) {
    if (pages > max_pages)
        return "the job would print " + std::to_string(pages) + " pages, more than " +
               std::to_string(max_pages);
    return "";
}
