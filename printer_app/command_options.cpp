#include "command_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>

#include <iconv.h>

namespace {

using Apply = std::string (*)(CommandOptions &, const std::string &);

struct CommandOption {
    const char *group; // the first option of a group names it
    const char *name;
    const char *metavar; // null: a flag
    const char *help;
    Apply apply;
};

std::optional<int64_t> integer(const std::string &text) {
    errno = 0;
    char *end = nullptr;
    long long value = strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end || errno || isspace(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    return value;
}

template <typename T>
std::string number_into(const std::string &text, int64_t low, int64_t high, T &into) {
    std::optional<int64_t> value = integer(text);
    if (!value)
        return "expected a number";
    if (*value < low || *value > high)
        return "must be " + std::to_string(low) + " to " + std::to_string(high);
    into = T(*value);
    return "";
}

template <typename T>
std::string optional_number(const std::string &text, int64_t low, int64_t high,
                            std::optional<T> &into) {
    T value{};
    std::string problem = number_into(text, low, high, value);
    if (problem.empty())
        into = value;
    return problem;
}

std::string u32(const std::string &text, std::optional<uint32_t> &into) {
    return optional_number(text, 0, UINT32_MAX, into);
}

std::string seconds(const std::string &text, double &into) {
    char *end = nullptr;
    double value = strtod(text.c_str(), &end);
    if (text.empty() || *end || std::isnan(value))
        return "expected a number of seconds";
    if (!(value > 0 && value <= 86400))
        return "must be more than 0 and at most 86400 seconds";
    into = value;
    return "";
}

std::string lower(std::string text) {
    for (char &c : text)
        c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

// One of `names`, or a number as `parse` reads it.
template <typename T>
std::string named_or_number(const std::string &text, const std::map<std::string, T> &names,
                            int64_t low, int64_t high, std::optional<T> &into) {
    if (auto named = names.find(lower(text)); named != names.end()) {
        into = named->second;
        return "";
    }
    if (optional_number(text, low, high, into).empty())
        return "";
    std::string list;
    for (const auto &[name, value] : names)
        list += (list.empty() ? "" : ", ") + name;
    return "expected one of " + list + " or a number";
}

std::string paper_size(const std::string &text, std::optional<uint32_t> &into) {
    size_t x = lower(text).find('x');
    std::optional<int64_t> width = integer(text.substr(0, x));
    std::optional<int64_t> height =
        x == std::string::npos ? std::nullopt : integer(text.substr(x + 1));
    if (!width || !height)
        return "expected WIDTHxHEIGHT in points, e.g. 595x842";
    if (*width < 1 || *width > 0xFFFF || *height < 1 || *height > 0xFFFF)
        return "width and height must be 1 to 65535 points";
    into = uint32_t(*width) << 16 | uint32_t(*height);
    return "";
}

// A name below drive C:'s root: a drive, a root or .. would let a job
// overwrite any file of the prefix, such as C:\windows\win.ini.
std::string output_name(const std::string &text, std::string &into) {
    std::string path = text;
    for (char &c : path)
        c = c == '/' ? '\\' : c;
    bool bad = text.empty() || text.find(':') != std::string::npos || path.front() == '\\' ||
               path.back() == '\\' || path.find("\\\\") != std::string::npos;
    for (size_t at = 0; !bad && at <= path.size();) {
        size_t end = std::min(path.find('\\', at), path.size());
        bad = path.compare(at, end - at, "..") == 0;
        at = end + 1;
    }
    if (bad)
        return "expected a file name relative to drive C:'s root, without a drive letter or ..";
    into = text;
    return "";
}

std::string encoding(const std::string &text, std::string &into) {
    iconv_t converter = iconv_open(text.c_str(), "UTF-8");
    if (converter == iconv_t(-1))
        return "unknown encoding '" + text + "'";
    iconv_close(converter);
    into = text;
    return "";
}

std::string choice(const std::string &text, std::initializer_list<const char *> names,
                   size_t &index) {
    std::string list;
    index = 0;
    for (const char *name : names) {
        if (text == name)
            return "";
        list += std::string(list.empty() ? "" : ", ") + "'" + name + "'";
        ++index;
    }
    return "invalid choice: '" + text + "' (choose from " + list + ")";
}

const std::map<std::string, uint32_t> DUPLEX = {
    {"simplex", 1}, {"vertical", 2}, {"long-edge", 2}, {"horizontal", 3}, {"short-edge", 3}};
const std::map<std::string, int32_t> QUALITY = {
    {"draft", -1}, {"low", -2}, {"medium", -3}, {"high", -4}};
const std::map<std::string, PageColour> COLOUR = {
    {"color", PageColour::COLOR}, {"colour", PageColour::COLOR}, {"grey", PageColour::GREY},
    {"gray", PageColour::GREY},   {"mono", PageColour::MONO},    {"monochrome", PageColour::MONO}};

const CommandOption OPTIONS[] = {
    {"documents", "--pages", "RANGES", "pages to print, e.g. 2-5 or 1,3,7- (default: all)",
     [](CommandOptions &o, const std::string &v) { return parse_page_ranges(v, o.ranges); }},
    {nullptr, "--scale", "{auto,as-is,fit}",
     "as-is: one pixel (BMP, pictures) or point at the printer's resolution (PDF, PostScript) "
     "per device pixel; fit: fit the printable area; auto: as-is for BMP files only, else fit "
     "(default auto)",
     [](CommandOptions &o, const std::string &v) {
         size_t index;
         std::string problem = choice(v, {"auto", "as-is", "fit"}, index);
         o.scale = ScaleChoice(index);
         return problem;
     }},
    {nullptr, "--dpi", "DPI",
     "device resolution for rasterising (default: --y-resolution, else estimated from the "
     "printable size)",
     [](CommandOptions &o, const std::string &v) { return optional_number(v, 1, 9600, o.dpi); }},
    {nullptr, "--ahead", "AHEAD",
     "0 to 8, accepted for the scripts that name it: pages are always rasterised one "
     "ahead of the printer",
     [](CommandOptions &o, const std::string &v) { return number_into(v, 0, 8, o.ahead); }},
    {"job", "--printer", "PRINTER", "Wine printer (default: the Wine prefix's default printer)",
     [](CommandOptions &o, const std::string &v) { return o.printer = v, std::string(); }},
    {nullptr, "--output", "OUTPUT",
     "output file name on drive C:, relative to its root (default tavri-print-DATE-TIME.ps, "
     "never one that exists)",
     [](CommandOptions &o, const std::string &v) { return output_name(v, o.output); }},
    {nullptr, "--overwrite", nullptr, "replace an --output file that exists (default: refuse)",
     [](CommandOptions &o, const std::string &) { return o.overwrite = true, std::string(); }},
    {nullptr, "--job-id", "JOB_ID", "job number (default 1)",
     [](CommandOptions &o, const std::string &v) {
         return number_into(v, 0, UINT32_MAX, o.job_id);
     }},
    {nullptr, "--copies", "N", "number of copies (default: the printer's)",
     [](CommandOptions &o, const std::string &v) { return u32(v, o.copies); }},
    {nullptr, "--collate", "{on,off}", "collate copies, with --copies (default: the printer's)",
     [](CommandOptions &o, const std::string &v) {
         size_t index;
         std::string problem = choice(v, {"on", "off"}, index);
         o.collate = index == 0 ? 1u : 0u;
         return problem;
     }},
    {nullptr, "--duplex", "DUPLEX",
     "simplex, long-edge (vertical), short-edge (horizontal) or 1..3 (default: the printer's)",
     [](CommandOptions &o, const std::string &v) {
         return named_or_number(v, DUPLEX, 0, UINT32_MAX, o.duplex);
     }},
    {nullptr, "--paper", "WxH", "paper size in points (default: the printer's)",
     [](CommandOptions &o, const std::string &v) { return paper_size(v, o.paper); }},
    {nullptr, "--paper-source", "N", "the driver's bin number (default: the printer's)",
     [](CommandOptions &o, const std::string &v) { return u32(v, o.paper_source); }},
    {nullptr, "--quality", "QUALITY",
     "draft, low, medium, high, or dots per inch (needs --y-resolution) (default: the "
     "printer's)",
     [](CommandOptions &o, const std::string &v) {
         return named_or_number(v, QUALITY, INT32_MIN, INT32_MAX, o.quality);
     }},
    {nullptr, "--y-resolution", "DPI",
     "Y resolution, with a --quality in dots per inch (default: the printer's)",
     [](CommandOptions &o, const std::string &v) { return u32(v, o.y_resolution); }},
    {nullptr, "--color", "COLOR",
     "color (24 bits), grey (8 bits) or mono (1 bit); grey and mono ask the printer for "
     "monochrome (default: color pages, the printer's setting)",
     [](CommandOptions &o, const std::string &v) {
         auto named = COLOUR.find(lower(v));
         if (named == COLOUR.end())
             return std::string("expected color, grey or mono");
         o.color = named->second;
         return std::string();
     }},
    {"program", "--port", "PORT", "port to listen on (default: a free one)",
     [](CommandOptions &o, const std::string &v) { return number_into(v, 0, 65535, o.port); }},
    {nullptr, "--exe", "EXE",
     "the program (default: $PROXY_EXE, else the installed one, or a checkout's own build)",
     [](CommandOptions &o, const std::string &v) { return o.exe = v, std::string(); }},
    {nullptr, "--wine-run", "WINE_RUN", "Wine or a launcher (default WINE)",
     [](CommandOptions &o, const std::string &v) { return o.wine_run = v, std::string(); }},
    {nullptr, "--program-log", "FILE", "append the program's stderr here (default: discarded)",
     [](CommandOptions &o, const std::string &v) { return o.program_log = v, std::string(); }},
    {nullptr, "--encoding", "ENCODING",
     "ANSI code page of the Wine prefix for the names (default cp1252)",
     [](CommandOptions &o, const std::string &v) { return encoding(v, o.encoding); }},
    {nullptr, "--timeout", "TIMEOUT", "seconds to wait for each answer (default 120)",
     [](CommandOptions &o, const std::string &v) { return seconds(v, o.timeout); }},
    {nullptr, "--connect-timeout", "CONNECT_TIMEOUT",
     "seconds to wait for the program to connect (default 60)",
     [](CommandOptions &o, const std::string &v) { return seconds(v, o.connect_timeout); }},
    {nullptr, "--heartbeat", "HEARTBEAT",
     "seconds between our heartbeats while waiting, at most 20 (default 10)",
     [](CommandOptions &o, const std::string &v) {
         double value = 0;
         if (!seconds(v, value).empty() || value > 20)
             return std::string("must be more than 0 and at most 20 seconds");
         o.heartbeat = value;
         return std::string();
     }},
    {"printers", "--list", nullptr,
     "list the Wine prefix's printers, the default one marked, and exit",
     [](CommandOptions &o, const std::string &) { return o.list = true, std::string(); }},
    {nullptr, "--capabilities", nullptr,
     "print the printer's capabilities as JSON (papers, resolutions, colour, duplex, "
     "sources, defaults) and exit",
     [](CommandOptions &o, const std::string &) { return o.capabilities = true, std::string(); }},
};

// The option that `word` names: itself or the one option it abbreviates.
const CommandOption *find_option(const std::string &word, std::string &problem) {
    const CommandOption *found = nullptr;
    size_t matches = 0;
    for (const CommandOption &option : OPTIONS) {
        if (word == option.name)
            return &option;
        if (std::string(option.name).compare(0, word.size(), word) == 0) {
            found = &option;
            ++matches;
        }
    }
    if (matches == 1)
        return found;
    problem = (matches ? "ambiguous option: " : "unrecognized arguments: ") + word;
    return nullptr;
}

// Applies the option at args[i], taking its value from "=VALUE" or the
// next argument.
std::string take_option(const std::vector<std::string> &args, size_t &i, CommandOptions &o) {
    std::string word = args[i], value;
    size_t equals = word.find('=');
    bool inline_value = equals != std::string::npos;
    if (inline_value) {
        value = word.substr(equals + 1);
        word.resize(equals);
    }
    std::string problem;
    const CommandOption *option = find_option(word, problem);
    if (!option)
        return problem;
    std::string name = option->name;
    if (!option->metavar && inline_value)
        return "argument " + name + ": ignored explicit argument '" + value + "'";
    if (option->metavar && !inline_value) {
        if (i + 1 >= args.size() ||
            (args[i + 1].size() > 1 && args[i + 1][0] == '-' && !integer(args[i + 1])))
            return "argument " + name + ": expected one argument";
        value = args[++i];
    }
    problem = option->apply(o, value);
    return problem.empty() ? "" : "argument " + name + ": " + problem;
}

// `help` in lines of at most 79 columns from column HELP_COLUMN on, after
// an option's `used` columns.
std::string wrapped(const std::string &help, size_t used) {
    constexpr size_t HELP_COLUMN = 24, WIDTH = 79;
    std::string text = used + 2 > HELP_COLUMN ? "\n" + std::string(HELP_COLUMN, ' ')
                                              : std::string(HELP_COLUMN - used, ' ');
    size_t column = HELP_COLUMN;
    for (size_t at = 0; at < help.size();) {
        size_t end = std::min(help.find(' ', at), help.size());
        if (column > HELP_COLUMN && column + 1 + (end - at) > WIDTH) {
            text += "\n" + std::string(HELP_COLUMN, ' ');
            column = HELP_COLUMN;
        } else if (column > HELP_COLUMN) {
            text += ' ';
            ++column;
        }
        text += help.substr(at, end - at);
        column += end - at;
        at = end + 1;
    }
    return text + "\n";
}

} // namespace

std::string parse_command_line(const std::vector<std::string> &args, CommandOptions &o) {
    bool options_end = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &word = args[i];
        if (options_end || word == "-" || word.empty() || word[0] != '-') {
            o.files.push_back(word);
        } else if (word == "--") {
            options_end = true;
        } else if (word == "-h" || word == "--help") {
            o.help = true;
            return "";
        } else if (std::string problem = take_option(args, i, o); !problem.empty()) {
            return problem;
        }
    }
    if (o.files.empty() && !o.list && !o.capabilities)
        return "the following arguments are required: FILE";
    return "";
}

std::string usage_text() {
    return "usage: tavri-print [-h] [options] FILE [FILE ...]\n"
           "       tavri-print --list | --capabilities [--printer PRINTER]\n";
}

std::string help_text(const std::string &wine) {
    std::string text = usage_text() +
                       "\nPrint PDF, PostScript, BMP, PNG or JPEG files through\n"
                       "tavri-printer-proxy on a Wine printer.\n\n"
                       "positional arguments:\n  FILE                  documents, in order\n\n"
                       "options:\n  -h, --help            show this help message and exit\n";
    for (const CommandOption &option : OPTIONS) {
        if (option.group)
            text += std::string("\n") + option.group + ":\n";
        std::string left = std::string("  ") + option.name;
        if (option.metavar)
            left += std::string(" ") + option.metavar;
        std::string help = option.help;
        if (size_t at = help.find("(default WINE)"); at != std::string::npos)
            help.replace(at, 14, "(default " + wine + ")");
        text += left + wrapped(help, left.size());
    }
    return text + "\nThe output file's unix path is printed on standard output; progress goes to\n"
                  "standard error (a bar on a terminal, else one line per page).\n";
}
