#include "wine_job.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/byte_order.h"
#include "base/print_request.h"
#include "net/packet.h"

namespace {

// A user's cancel clicked while the last page printed follows the job result.
constexpr int CANCEL_GRACE_MS = 100;

struct IconvCloser {
    iconv_t cd;
    ~IconvCloser() {
        if (cd != iconv_t(-1))
            iconv_close(cd);
    }
};

// `text` (UTF-8) in the prefix's code page into a NUL-terminated field. A
// NUL inside the text would end the name early: another printer or file.
bool name_field(const std::string &text, const std::string &code_page,
                char (&field)[PRINTER_NAME_SIZE], const char *what, std::string &error) {
    memset(field, 0, sizeof field);
    IconvCloser converter{iconv_open(code_page.c_str(), "UTF-8")};
    char *in = const_cast<char *>(text.data());
    size_t in_left = text.size(), out_left = sizeof field - 1;
    char *out = field;
    if (text.empty() || text.find('\0') != std::string::npos || converter.cd == iconv_t(-1) ||
        iconv(converter.cd, &in, &in_left, &out, &out_left) == size_t(-1)) {
        error = std::string("the ") + what + " \"" + text + "\" cannot be written in " + code_page +
                " in at most 127 bytes, without a NUL";
        return false;
    }
    return true;
}

void remove_pending(WineJob &job) {
    for (const std::string &path : job.pending)
        unlink(path.c_str());
    job.pending.clear();
}

void unlock_prefix(WineJob &job) {
    if (job.lock_fd >= 0)
        close(job.lock_fd);
    job.lock_fd = -1;
}

// The lock is the owner's alone: flock works on any descriptor, so a lock
// file that another user could open would let them stall every job.
bool lock_prefix(WineJob &job) {
    std::string path = job.setup.prefix + "/.tavri-print.lock";
    job.lock_fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    // A link in the prefix can only be its owner's doing: the lock replaces it.
    if (job.lock_fd < 0 && errno == ELOOP && unlink(path.c_str()) == 0)
        job.lock_fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (job.lock_fd < 0 && errno == ENOENT)
        return true; // no prefix to share
    struct stat info;
    if (job.lock_fd < 0 || fstat(job.lock_fd, &info) != 0 || info.st_uid != getuid() ||
        ((info.st_mode & 077) && fchmod(job.lock_fd, 0600) != 0)) {
        job.error = "the lock " + path + " of the Wine prefix is not yours alone";
        unlock_prefix(job);
        return false;
    }
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(job.setup.lock_timeout_ms);
    while (flock(job.lock_fd, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            job.error = "another job kept the Wine prefix " + job.setup.prefix + " busy";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

// The answer's status as an error naming `what`; false when it is not 0.
bool checked(WineJob &job, PeerResult result, const Packet &answer, const std::string &what) {
    if (result == PeerResult::USER_CANCELLED) {
        job.error = "the user cancelled the job in the progress window";
        job.user_cancelled = true;
        return false;
    }
    if (result != PeerResult::OK) {
        job.error = what + ": " + job.peer.error;
        return false;
    }
    uint32_t status;
    std::string text;
    if (!parse_reply(answer.body, status, text)) {
        job.error = "the answer to " + what + " is too short";
        return false;
    }
    if (status != STATUS_OK) {
        job.status = status, job.failed_request = what;
        job.error = what + " failed with status " + std::to_string(status) +
                    (text.empty() ? "" : ": " + text);
        return false;
    }
    return true;
}

std::string real_path(const std::string &path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

} // namespace

std::string drive_c_path(const std::string &prefix, const std::string &name) {
    std::string path = prefix + "/dosdevices/c:";
    size_t at = 0;
    while (at < name.size()) { // Windows separators, and no empty parts
        size_t end = name.find_first_of("\\/", at);
        if (end == std::string::npos)
            end = name.size();
        if (end > at)
            path += "/" + name.substr(at, end - at);
        at = end + 1;
    }
    return path;
}

bool build_start_print(const JobSettings &s, uint32_t page_count,
                       std::vector<unsigned char> &record, std::string &error) {
    PrintRequest r{};
    if (page_count == 0) { // the program refuses it
        error = "a job of no pages cannot be printed";
        return false;
    }
    if (!name_field(s.printer, s.code_page, r.printer_name, "printer name", error) ||
        !name_field(s.output_name, s.code_page, r.output_file_name, "output file name", error))
        return false;
    r.job_id = s.job_id;
    r.scale = s.scale;
    r.reserved1 = page_count;
    r.data_type = DATA_TYPE_BITMAP;
    auto set = [&](const std::optional<uint32_t> &value, uint32_t &field, uint32_t bit) {
        if (value) {
            field = *value;
            r.fields |= bit;
        }
    };
    set(s.paper, r.paper_size, FIELD_PAPER_SIZE);
    set(s.paper_source, r.paper_source, FIELD_PAPER_SOURCE);
    set(s.duplex, r.duplex, FIELD_DUPLEX);
    set(s.color, r.color, FIELD_COLOR);
    set(s.copies, r.copies, FIELD_COPIES);
    set(s.collate, r.collate, FIELD_COLLATE);
    set(s.y_dpi, r.y_resolution, FIELD_Y_RESOLUTION);
    // A positive quality is the X resolution.
    std::optional<int32_t> quality = s.x_dpi ? std::optional(int32_t(*s.x_dpi)) : s.quality;
    if (quality) {
        r.print_quality = *quality;
        r.fields |= FIELD_PRINT_QUALITY;
    }
    print_request_to_host(&r); // the swap is its own inverse: host to network order
    record.resize(sizeof r);
    memcpy(record.data(), &r, sizeof r);
    return true;
}

bool wine_job_launch(WineJob &job) {
    job.peer.timeouts = job.setup.timeouts;
    if (!lock_prefix(job))
        return false;
    if (!peer_listen(job.peer) ||
        !peer_launch(job.peer, {job.setup.wine, job.setup.exe}, job.setup.env) ||
        !peer_accept(job.peer)) {
        job.error = job.peer.error;
        peer_finish(job.peer, NOTIFY_CANCEL_PRINT_DONE, STATUS_INVALID, "");
        unlock_prefix(job);
        return false;
    }
    return true;
}

bool wine_job_start(WineJob &job, uint32_t page_count) {
    std::vector<unsigned char> record;
    if (!build_start_print(job.settings, page_count, record, job.error))
        return false;
    Packet answer;
    PeerResult result =
        peer_call(job.peer, ACTION_START_PRINT, record.data(), uint32_t(record.size()), answer);
    if (!checked(job, result, answer, "the start-print request"))
        return false;
    job.started = true;
    job.announced = page_count;
    unsigned char id[4];
    write_be32(id, job.settings.job_id);
    result = peer_call(job.peer, ACTION_GET_PRINT_PAGE, id, sizeof id, answer);
    uint32_t status = 0;
    if (result != PeerResult::OK ||
        !parse_page_size(answer.body, status, job.printable_width, job.printable_height) ||
        status != STATUS_OK) {
        job.error =
            "the page-size query failed: " +
            (result == PeerResult::OK ? "status " + std::to_string(status) : job.peer.error);
        job.status = status, job.failed_request = "the page-size query";
        return false;
    }
    return true;
}

bool wine_job_send_pages(WineJob &job, bool (*cancelled)(void *), void *context) {
    while (job.started && !job.pending.empty()) {
        if (cancelled && cancelled(context)) {
            job.error = "the job was cancelled";
            return false;
        }
        if (job.sent == job.announced) {
            job.error = "the job has more pages than the " + std::to_string(job.announced) +
                        " it announced";
            return false;
        }
        std::string path = job.pending.front();
        std::vector<unsigned char> body(path.begin(), path.end());
        body.push_back(0);
        Packet answer;
        PeerResult result =
            peer_call(job.peer, ACTION_PAGE_FILENAME, body.data(), uint32_t(body.size()), answer);
        unlink(path.c_str());
        job.pending.pop_front();
        if (!checked(job, result, answer, "page " + std::to_string(job.sent + 1)))
            return false;
        ++job.sent;
    }
    return true;
}

bool wine_job_finish(WineJob &job, std::string &output_path) {
    Packet result_packet;
    PeerResult result =
        peer_wait_for(job.peer, MSG_JOB_RESULT, 0, job.peer.timeouts.answer_ms, result_packet);
    uint32_t status = 0;
    std::string text;
    bool fine = checked(job, result, result_packet, "the job") &&
                parse_reply(result_packet.body, status, text);
    if (fine && peer_user_cancelled(job.peer, CANCEL_GRACE_MS)) {
        job.error = "the user cancelled the job in the progress window";
        fine = false;
    }
    std::string ours = drive_c_path(job.setup.prefix, job.settings.output_name);
    if (fine && real_path(text) != real_path(ours)) {
        job.error = "the job result names " + text + ", not the job's output file " + ours;
        fine = false;
    }
    if (!fine) {
        wine_job_abandon(job, job.error);
        return false;
    }
    output_path = text; // as the program names it: drive_c, where dosdevices/c: leads
    peer_finish(job.peer, NOTIFY_PRINT_DONE, STATUS_OK, "OK");
    unlock_prefix(job);
    return true;
}

void wine_job_abandon(WineJob &job, const std::string &reason) {
    remove_pending(job);
    if (job.started && !job.peer.ended && job.peer.conn >= 0) {
        // The document is ended at once; then the session.
        unsigned char id[4];
        write_be32(id, job.settings.job_id);
        Packet answer;
        int answer_ms = job.peer.timeouts.answer_ms;
        job.peer.timeouts.answer_ms = std::min(answer_ms, 10000);
        peer_call(job.peer, ACTION_END_JOB, id, sizeof id, answer);
        job.peer.timeouts.answer_ms = answer_ms;
    }
    peer_finish(job.peer, NOTIFY_CANCEL_PRINT_DONE, STATUS_INVALID, reason.substr(0, 200));
    // A job refused after its result (cancelled in the window at the last
    // page, or naming another file) leaves the driver's output behind.
    if (job.started && !job.settings.output_name.empty())
        unlink(drive_c_path(job.setup.prefix, job.settings.output_name).c_str());
    unlock_prefix(job);
    job.started = false;
}
