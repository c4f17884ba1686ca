// Entry point of tavri-printer-query: reports the installed printers and what
// a printer's driver offers, as UTF-8 lines on standard output, for the Linux
// side that builds a PPD from them; and links a CJK font into the prefix's
// interface fonts.
#include <windows.h>

#include <string>
#include <vector>

#include "query/printer_query.h"
#include "query/query_format.h"
#include "ui/font_link.h"

namespace {

constexpr wchar_t USAGE[] =
    L"usage: tavri-printer-query printers | capabilities NAME | font-link\n";

// UTF-8 bytes written as they are: the console's own conversion would follow
// the locale's code page and lose what it cannot represent.
void write_utf8(DWORD std_handle, const std::wstring &text) {
    if (text.empty())
        return;
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string bytes(size_t(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    // A synchronous write to a file or pipe writes everything or fails.
    DWORD written = 0;
    WriteFile(GetStdHandle(std_handle), bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

int report_failure(const QueryFailure &failure) {
    write_utf8(STD_ERROR_HANDLE, failure.message + L"\n");
    return failure.exit_code;
}

int list_printers() {
    std::vector<PrinterEntry> printers;
    QueryFailure failure;
    if (!query_printers(&printers, &failure))
        return report_failure(failure);
    write_utf8(STD_OUTPUT_HANDLE, format_printer_list(printers));
    return 0;
}

int show_capabilities(const std::wstring &name) {
    PrinterCapabilities capabilities;
    QueryFailure failure;
    if (!query_capabilities(name, &capabilities, &failure))
        return report_failure(failure);
    write_utf8(STD_OUTPUT_HANDLE, format_capabilities(capabilities));
    return 0;
}

int link_fonts() {
    std::wstring error;
    if (!link_cjk_font(&error))
        return report_failure({QUERY_CALL_FAILED, error});
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == L"printers")
        return list_printers();
    if (args.size() == 2 && args[0] == L"capabilities")
        return show_capabilities(args[1]);
    if (args.size() == 1 && args[0] == L"font-link")
        return link_fonts();
    write_utf8(STD_ERROR_HANDLE, USAGE);
    return 1;
}
