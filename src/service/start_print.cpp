// Action 1: check the record, accept the job, arm the heartbeat and start
// the printer document.
#include "service/start_print.h"

#include <windows.h>
#include <winspool.h>

#include <string>

#include "diag/log_line.h"
#include "net/heartbeat.h"
#include "net/packet.h"
#include "net/send_queue.h"
#include "printer/doc_start.h"
#include "winpath/output_path.h"
#include "service/handlers.h"
#include "base/job_state.h"
#include "service/messages.h"
#include "ui/progress_window.h"

namespace {

constexpr const char *CHECK_REQ_HEADER = "check_req_header";
constexpr const char *HANDLE_START_PRINT = "HandleStartPrint";

// The printer must exist for this user before a job is accepted. Opening
// it answers that without the cost of a device context, which the document
// start makes anyway.
bool printer_can_be_opened(const char *printer_name) {
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char *>(printer_name), &printer, nullptr))
        return false;
    ClosePrinter(printer);
    return true;
}

bool duplex_valid(const PrintRequest *request) {
    if (!(request->fields & FIELD_DUPLEX))
        return true;
    return request->duplex >= DMDUP_SIMPLEX && request->duplex <= DMDUP_HORIZONTAL;
}

// The driver accepts a document into a folder that does not exist and fails
// only at its end, when the pages are lost: such a name is refused up front.
bool output_folder_exists(const char *output_file_name) {
    WideText wide(ansi_to_wide(output_file_name));
    if (!wide)
        return false;
    std::wstring folder = output_folder(output_path_on_drive_c(wide.get()));
    if (folder.empty())
        return true;
    DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Both names are known to be terminated within their fields.
int check_request_fields(const PrintRequest *request) {
    if (request->data_type != DATA_TYPE_BITMAP && request->data_type != DATA_TYPE_TEXT) {
        ERR_ON(dbch_printproxy, CHECK_REQ_HEADER, "Invalid data type, %d.\n",
               static_cast<int>(request->data_type));
        return STATUS_BAD_DATA_TYPE;
    }
    if (request->output_file_name[0] == '\0' || !output_folder_exists(request->output_file_name)) {
        ERR_ON(dbch_printproxy, CHECK_REQ_HEADER, "Invalid output file name\n");
        return STATUS_BAD_NAME;
    }
    if (!duplex_valid(request)) {
        ERR_ON(dbch_printproxy, CHECK_REQ_HEADER, "Invalid duplex mode %d\n",
               static_cast<int>(request->duplex));
        return STATUS_BAD_DUPLEX;
    }
    if (request->reserved1 == 0) {
        ERR_ON(dbch_printproxy, CHECK_REQ_HEADER, "Invalid reserved1 %d\n", 0);
        return STATUS_BAD_PAGE_COUNT;
    }
    return 0;
}

// The window comes up once the printer's DC exists, before the document
// starts, whether or not it does.
int start_document(const PrintRequest *request) {
    if (request->data_type != DATA_TYPE_BITMAP)
        return start_doc_for_text();
    if (int status = open_printer_dc(request))
        return status;
    progress_thread = start_progress_thread(static_cast<int>(request->reserved1));
    return start_doc_for_bmp(request);
}

void answer(uint32_t req_id, uint32_t status, const char *text) {
    send_reply(reply_code(ACTION_START_PRINT), req_id, status, text);
}

} // namespace

int check_req_header(const PrintRequest *request) {
    if (!request) {
        ERR_ON(dbch_printproxy, CHECK_REQ_HEADER, "Invalid request header\n");
        return STATUS_INVALID;
    }
    // The server's record may fill a name field to the last byte; nothing
    // past the field belongs to the name.
    if (!name_field_terminated(request->printer_name)) {
        ERR_ON(dbch_printproxy, CHECK_REQ_HEADER, "Invalid printer name\n");
        return STATUS_BAD_NAME;
    }
    if (!name_field_terminated(request->output_file_name)) {
        ERR_ON(dbch_printproxy, CHECK_REQ_HEADER, "Invalid output file name\n");
        return STATUS_BAD_NAME;
    }
    if (!printer_can_be_opened(request->printer_name)) {
        ERR_ON(dbch_printproxy, CHECK_REQ_HEADER, "Can't open printer %s\n", request->printer_name);
        return STATUS_PRINTER_NOT_OPENED;
    }
    return check_request_fields(request);
}

int HandleStartPrint(PrintRequest *request, uint32_t req_id) {
    LOG_PROGRESS(HANDLE_START_PRINT, "%s\n");
    if (int code = check_req_header(request)) {
        ERR_ON(dbch_printproxy, HANDLE_START_PRINT, "check request header failed.\n");
        answer(req_id, static_cast<uint32_t>(code), "check request header failed.");
        return 1;
    }
    // The running job keeps its state, its id and its heartbeat.
    if (job_active()) {
        answer(req_id, STATUS_REFUSED, "Print in progress");
        return 1;
    }
    // Active before the id changes and before the heartbeat thread exists,
    // so that its first heartbeat already finds the job running.
    job_state = JOB_STATE_ACCEPTED;
    current_job_id = request->job_id;
    pages_received = pages_printed = 0;
    set_heartbeat_timer();
    LOG_PROGRESS(HANDLE_START_PRINT, "%sstart heartbeat timer %p\n", heartbeat_thread);
    int status = start_document(request);
    LOG_PROGRESS(HANDLE_START_PRINT, "%sdone, error_code = %d\n", status);
    answer(req_id, static_cast<uint32_t>(status), nullptr);
    return 1;
}
