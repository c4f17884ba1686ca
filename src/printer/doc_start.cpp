#include "printer/doc_start.h"

#include <cstring>
#include <string>

#include "diag/debug_channel.h"
#include "printer/devmode.h"
#include "winpath/output_path.h"
#include "base/job_state.h"

namespace {

constexpr const char *START_DOC_FOR_BMP = "start_doc_for_bmp";
const wchar_t DOCUMENT_NAME[] = L"Test Print";

// Where the document on printer_dc writes its output. Outside the start of
// a job, printer_dc is set only while it holds a started document: a failed
// start deletes it.
std::wstring open_document_output;

// Ends the document on printer_dc and deletes the DC; false when the driver
// could not end the document, which is then aborted when `abort_unended`
// asks for it.
bool close_printer_dc(bool abort_unended) {
    bool ended = EndDoc(printer_dc) > 0;
    if (!ended && abort_unended)
        AbortDoc(printer_dc);
    DeleteDC(printer_dc);
    printer_dc = nullptr;
    open_document_output.clear();
    return ended;
}

} // namespace

// Wine's PostScript driver keeps an aborted document's spool file open until
// the process ends, one descriptor and one file on disk per abandoned job.
// Ending the document closes it; the output it wrote is then removed, so
// that an abandoned job leaves no file, as an abort would.
void abandon_document() {
    if (!printer_dc)
        return;
    std::wstring output = open_document_output;
    if (close_printer_dc(true) && !output.empty())
        DeleteFileW(output.c_str());
}

const std::wstring &document_output_path() {
    return open_document_output;
}

bool finish_document() {
    return !printer_dc || close_printer_dc(false);
}

wchar_t *ansi_to_wide(const char *text) {
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units == 0)
        return nullptr;
    auto *wide = static_cast<wchar_t *>(malloc(sizeof(wchar_t) * size_t(units)));
    if (!wide)
        return nullptr;
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide, units);
    return wide;
}

int start_doc_for_text() {
    FIXME_ON(dbch_printer, "start_doc_for_text", "not support print text\n");
    return STATUS_INVALID;
}

int open_printer_dc(const PrintRequest *request) {
    if (!request) {
        ERR_ON(dbch_printer, START_DOC_FOR_BMP, "invalid req\n");
        return STATUS_INVALID;
    }
    if (request->data_type != DATA_TYPE_BITMAP)
        return STATUS_INVALID;
    DEVMODEA *built = nullptr;
    if (int result = get_devmode_by_name(request, &built))
        return result;
    DevmodeBuffer device_mode(built);
    HDC dc = CreateDCA(nullptr, request->printer_name, nullptr, device_mode.get());
    if (!dc)
        return STATUS_INVALID;
    // A job the server ended without completion may have left its document.
    abandon_document();
    printer_dc = dc;
    return STATUS_OK;
}

int start_doc_for_bmp(const PrintRequest *request) {
    if (!printer_dc)
        return STATUS_INVALID;
    // The driver resolves a relative name against the current directory,
    // which is wherever the program happened to be started.
    std::string output_name(request->output_file_name,
                            strnlen(request->output_file_name, PRINTER_NAME_SIZE));
    WideText output(ansi_to_wide(output_name.c_str()));
    std::wstring output_path = output ? output_path_on_drive_c(output.get()) : std::wstring();
    DOCINFOW doc = {};
    doc.cbSize = sizeof(doc);
    doc.lpszDocName = DOCUMENT_NAME;
    doc.lpszOutput = output ? output_path.c_str() : nullptr;

    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    document_started_at = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    int started = StartDocW(printer_dc, &doc);
    DWORD error = GetLastError();
    if (started <= 0) {
        ERR_ON(dbch_printer, START_DOC_FOR_BMP, "StartDocW failed, %lx\n", error);
        DeleteDC(printer_dc);
        printer_dc = nullptr;
        return STATUS_INVALID;
    }
    job_state = JOB_STATE_DOC_STARTED;
    open_document_output = output_path;
    page_width = GetDeviceCaps(printer_dc, HORZRES);
    page_height = GetDeviceCaps(printer_dc, VERTRES);
    return STATUS_OK;
}
