// What the printer tests take for granted about the rig: Wine sees the private
// CUPS queue named by PROXY_TEST_PRINTER as an A4 PostScript printer at 300 dpi,
// and a document started with an output file lands, whole, in that file (the
// job never reaches CUPS).
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>

namespace {

struct PrinterCloser {
    void operator()(HANDLE printer) const { ClosePrinter(printer); }
};
using PrinterHandle = std::unique_ptr<void, PrinterCloser>;

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using DcHandle = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

class PrinterRig : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *name = std::getenv("PROXY_TEST_PRINTER");
        if (name == nullptr || *name == '\0')
            GTEST_SKIP() << "PROXY_TEST_PRINTER is not set: run under scripts/wine-run";
        printer_name = name;
    }

    DcHandle create_printer_dc() {
        return DcHandle(CreateDCA(nullptr, printer_name.c_str(), nullptr, nullptr));
    }

    std::string printer_name;
};

std::wstring current_folder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
    return std::wstring(path, length);
}

std::wstring temp_folder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetTempPathW(MAX_PATH, path);
    return std::wstring(path, length);
}

// The whole of a small FILE, or "" when it cannot be read.
std::string file_text(const std::wstring &file) {
    std::unique_ptr<FILE, decltype(&fclose)> stream(_wfopen(file.c_str(), L"rb"), &fclose);
    if (!stream)
        return "";
    std::string text;
    char chunk[4096];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof(chunk), stream.get())) > 0)
        text.append(chunk, got);
    return text;
}

// Prints one framed page with OUTPUT as the document's output file.
void print_probe_page(HDC dc, const wchar_t *output) {
    DOCINFOW doc = {};
    doc.cbSize = sizeof(doc);
    doc.lpszDocName = L"rig probe";
    doc.lpszOutput = output;
    ASSERT_GT(StartDocW(dc, &doc), 0) << "GetLastError " << GetLastError();
    ASSERT_GT(StartPage(dc), 0);
    Rectangle(dc, 100, 100, 1000, 1000);
    ASSERT_GT(EndPage(dc), 0);
    ASSERT_GT(EndDoc(dc), 0);
}

TEST_F(PrinterRig, QueueOpensAndHasAFullDeviceMode) {
    HANDLE raw = nullptr;
    ASSERT_TRUE(OpenPrinterA(printer_name.data(), &raw, nullptr))
        << printer_name << ": GetLastError " << GetLastError();
    PrinterHandle printer(raw);

    LONG size = DocumentPropertiesA(nullptr, raw, printer_name.data(), nullptr, nullptr, 0);
    EXPECT_GE(size, static_cast<LONG>(sizeof(DEVMODEA)))
        << "actual " << size << ", expected at least " << sizeof(DEVMODEA);
}

TEST_F(PrinterRig, DeviceContextCoversA4At300Dpi) {
    DcHandle dc = create_printer_dc();
    ASSERT_TRUE(dc) << printer_name << ": GetLastError " << GetLastError();

    struct Cap {
        const char *name;
        int index;
        int expected;
    };
    const Cap caps[] = {
        {"HORZRES", HORZRES, 2479},
        {"VERTRES", VERTRES, 3508},
        {"LOGPIXELSX", LOGPIXELSX, 300},
        {"LOGPIXELSY", LOGPIXELSY, 300},
    };
    for (const Cap &cap : caps) {
        int actual = GetDeviceCaps(dc.get(), cap.index);
        EXPECT_EQ(actual, cap.expected)
            << cap.name << ": actual " << actual << ", expected " << cap.expected;
    }
}

TEST_F(PrinterRig, OutputFileReceivesPostScript) {
    std::wstring folder = temp_folder();
    std::wstring absolute = folder + L"rig_probe_absolute.ps";
    std::wstring relative_name = L"rig_probe_relative.ps";
    DeleteFileW(absolute.c_str());
    DeleteFileW((folder + relative_name).c_str());

    struct Case {
        const char *name;
        const wchar_t *output;
        std::wstring expected_file;
    };
    const Case cases[] = {
        {"absolute name", absolute.c_str(), absolute},
        {"name relative to the current folder", relative_name.c_str(), folder + relative_name},
    };
    std::wstring saved_folder = current_folder();
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    std::unique_ptr<const std::wstring, void (*)(const std::wstring *)> restore_folder(
        &saved_folder, [](const std::wstring *path) { SetCurrentDirectoryW(path->c_str()); });
    for (const Case &row : cases) {
        SCOPED_TRACE(row.name);
        DcHandle dc = create_printer_dc();
        ASSERT_TRUE(dc) << printer_name << ": GetLastError " << GetLastError();
        ASSERT_NO_FATAL_FAILURE(print_probe_page(dc.get(), row.output));
        dc.reset();
        // The driver has written the whole document by the time EndDoc returns.
        std::string text = file_text(row.expected_file);
        std::string head = text.substr(0, 4);
        EXPECT_EQ(head, "%!PS") << "actual \"" << head << "\", expected \"%!PS\"";
        EXPECT_NE(text.find("%%EOF"), std::string::npos)
            << "actual " << text.size() << " bytes without \"%%EOF\", expected a whole document";
        DeleteFileW(row.expected_file.c_str());
    }
}

} // namespace
