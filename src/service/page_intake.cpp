// Page file intake: counts the page, refuses it when no document is open,
// reads and checks the file, has it drawn, answers, and ends the job on its
// last page.
#include "service/page_intake.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "diag/debug_channel.h"
#include "net/packet.h"
#include "net/send_queue.h"
#include "imaging/bmp_file.h"
#include "imaging/fit_image.h"
#include "service/handlers.h"
#include "service/job_finish.h"
#include "base/job_state.h"
#include "service/messages.h"
#include "imaging/page_buffer.h"
#include "service/page_render.h"
#include "winpath/unix_path.h"
#include "ui/progress_window.h"

namespace {

const char READER[] = "read_one_fram_bmp_from_file";
const char HANDLER[] = "HandlePageFilename";

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

int read_whole_file(HANDLE file, DWORD size, unsigned char **out_buffer) {
    unsigned char *buffer = page_buffer(size);
    if (!buffer) {
        ERR_ON(dbch_printer, READER, "malloc %lu failed\n", static_cast<unsigned long>(size));
        return STATUS_OUT_OF_MEMORY;
    }
    DWORD read = 0;
    if (!ReadFile(file, buffer, size, &read, nullptr) || read != size) {
        ERR_ON(dbch_printer, READER, "read file failed, read=%lu expected=%lu\n",
               static_cast<unsigned long>(read), static_cast<unsigned long>(size));
        return STATUS_IO_FAILED;
    }
    *out_buffer = buffer;
    return STATUS_OK;
}

// The file has been read and begins with "BM".
uint32_t check_and_print(const unsigned char *file, uint32_t size) {
    BmpPage page;
    BmpProblem problem = check_bmp_page(file, size, &page);
    if (problem != BmpProblem::NONE) {
        ERR_ON(dbch_printproxy, HANDLER, "invalid bmp file: %s, file size %lu\n",
               bmp_problem_text(problem), static_cast<unsigned long>(size));
        return STATUS_NOT_BMP;
    }
    print_bmp_page(file, page);
    return STATUS_OK;
}

uint32_t print_page_file(const char *unix_path) {
    unsigned char *file = nullptr;
    uint32_t size = 0;
    int result = read_one_fram_bmp_from_file(unix_path, &file, &size);
    if (result != 0)
        return static_cast<uint32_t>(result);
    uint16_t signature = bmp_signature(file, size);
    if (signature != BMP_SIGNATURE) {
        ERR_ON(dbch_printproxy, HANDLER, "not bmp file %02x\n", signature);
        return STATUS_NOT_BMP;
    }
    return check_and_print(file, size);
}

uint32_t page_status(const unsigned char *body, size_t length) {
    if (!body)
        return STATUS_NO_BODY;
    if (job_state.load() == JOB_STATE_ACCEPTED)
        return STATUS_DOCUMENT_NOT_STARTED;
    if (!printer_dc)
        return STATUS_INVALID;
    // The path ends at its NUL, which must lie within what was received.
    if (!memchr(body, 0, length)) {
        ERR_ON(dbch_printproxy, HANDLER, "page path without terminating NUL in %lu bytes\n",
               static_cast<unsigned long>(length));
        return STATUS_INVALID;
    }
    return print_page_file(reinterpret_cast<const char *>(body));
}

} // namespace

int read_one_fram_bmp_from_file(const char *unix_path, unsigned char **out_buffer,
                                uint32_t *out_size) {
    if (!unix_path || !out_buffer)
        return STATUS_INVALID;
    DosPath dos_path(dos_path_from_unix(unix_path));
    if (!dos_path) {
        ERR_ON(dbch_printer, READER, "wine_get_dos_file_name failed\n");
        return STATUS_IO_FAILED;
    }
    TRACE_ON(dbch_printer, READER, "File path (unix): %s\n", unix_path);
    HANDLE raw = CreateFileW(dos_path.get(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        ERR_ON(dbch_printer, READER, "open file failed, err=%lu\n",
               static_cast<unsigned long>(error));
        return STATUS_IO_FAILED;
    }
    FileHandle file(raw);
    DWORD size = GetFileSize(raw, nullptr);
    if (size == 0 || size == INVALID_FILE_SIZE) {
        ERR_ON(dbch_printer, READER, "invalid file size %lu\n", static_cast<unsigned long>(size));
        return STATUS_IO_FAILED;
    }
    TRACE_ON(dbch_printer, READER, "File path (dos) : %s %ld\n", quote_wide_string(dos_path.get()),
             static_cast<long>(size));
    dos_path.reset();
    int result = read_whole_file(raw, size, out_buffer);
    if (result == STATUS_OK && out_size)
        *out_size = size;
    return result;
}

void release_page_resources() {
    release_page_buffer();
    release_fit_image();
}

int HandlePageFilename(const unsigned char *body, size_t length, uint32_t req_id) {
    // Outside a job (none started, or ended by action 6) there is nothing to
    // count the page against and no job to finish.
    if (!job_active()) {
        send_reply(reply_code(ACTION_PAGE_FILENAME), req_id, body ? STATUS_INVALID : STATUS_NO_BODY,
                   nullptr);
        return 1;
    }
    ++pages_received;
    post_progress_step(pages_received);
    uint32_t status = page_status(body, length);
    send_reply(reply_code(ACTION_PAGE_FILENAME), req_id, status, nullptr);
    if (status == STATUS_OK)
        ++pages_printed;
    // The last page message ends the job whether or not any page printed.
    if (current_job && static_cast<uint32_t>(pages_received) == current_job->reserved1) {
        release_page_resources();
        finish_print_job(status);
    }
    return 1;
}
