#include "printer/doc_start.h"

#include <cstring>
#include <string>
#include <type_traits>

#include "diag/debug_channel.h"
#include "printer/devmode.h"
#include "printer/output_path.h"
#include "service/job_state.h"
#include "ui/progress_window.h"

int(WINAPI *start_doc_call)(HDC dc, const DOCINFOW *doc) = StartDocW;

namespace {

constexpr const char *START_DOC_FOR_BMP = "start_doc_for_bmp";
const wchar_t DOCUMENT_NAME[] = L"Test Print";

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using DcHandle = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

// A job that the server ended without completion leaves its document open;
// it is abandoned before the new job's DC replaces it.
void abandon_leftover_document() {
    HDC leftover = printer_dc;
    if (!leftover)
        return;
    AbortDoc(leftover);
    DeleteDC(leftover);
    printer_dc = nullptr;
}

} // namespace

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
    return DOC_START_FAILED;
}

int start_doc_for_bmp(const PrintRequest *request) {
    if (!request) {
        ERR_ON(dbch_printer, START_DOC_FOR_BMP, "invalid req\n");
        return DOC_START_FAILED;
    }
    if (request->data_type != DATA_TYPE_BITMAP)
        return DOC_START_FAILED;
    DEVMODEA *built = nullptr;
    if (int result = get_devmode_by_name(request, &built))
        return result;
    DevmodeBuffer device_mode(built);

    DcHandle dc(CreateDCA(nullptr, request->printer_name, nullptr, device_mode.get()));
    if (!dc)
        return DOC_START_FAILED;
    abandon_leftover_document();
    printer_dc = dc.get();

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

    // The window comes up before the document starts, whether or not it does.
    progress_thread = start_progress_thread(static_cast<int>(request->reserved1));
    int started = start_doc_call(dc.get(), &doc);
    DWORD error = GetLastError();
    output.reset();
    if (started <= 0) {
        ERR_ON(dbch_printer, START_DOC_FOR_BMP, "StartDocW failed, %lx\n", error);
        printer_dc = nullptr;
        return DOC_START_FAILED;
    }
    job_state = JOB_STATE_DOC_STARTED;
    page_width = GetDeviceCaps(dc.get(), HORZRES);
    page_height = GetDeviceCaps(dc.get(), VERTRES);
    // The pages print on it; the end of the job deletes it.
    dc.release();
    return DOC_START_OK;
}
