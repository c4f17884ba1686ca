// The bare GDI path of a bitmap print job, for bench/pages.py to compare the
// proxy with: one document on the printer, and per page file: read it whole,
// StartPage, one StretchDIBits, EndPage. No protocol, no window, no checks
// beyond what keeps it from crashing.
//
//   page_baseline.exe PRINTER OUTPUT asis|fit FILE...
//
// OUTPUT is the document's output file (a DOS path), FILE a page's unix path.
// Prints the job's time and the process's peak working set.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using DosFromUnix = WCHAR *(CDECL *)(const char *);

std::vector<unsigned char> read_file(const char *unix_path) {
    auto to_dos = reinterpret_cast<DosFromUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    std::vector<unsigned char> data;
    WCHAR *dos = to_dos ? to_dos(unix_path) : nullptr;
    if (!dos)
        return data;
    HANDLE file = CreateFileW(dos, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    HeapFree(GetProcessHeap(), 0, dos);
    if (file == INVALID_HANDLE_VALUE)
        return data;
    DWORD size = GetFileSize(file, nullptr);
    data.resize(size);
    DWORD read = 0;
    if (!ReadFile(file, data.data(), size, &read, nullptr) || read != size)
        data.clear();
    CloseHandle(file);
    return data;
}

bool print_page(HDC dc, const std::vector<unsigned char> &file, bool fit) {
    if (file.size() < 54)
        return false;
    BITMAPINFO info = {};
    memcpy(&info.bmiHeader, file.data() + 14, sizeof(BITMAPINFOHEADER));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    DWORD offset = 0;
    memcpy(&offset, file.data() + 10, 4);
    int width = info.bmiHeader.biWidth;
    int height = abs(info.bmiHeader.biHeight);
    if (StartPage(dc) <= 0)
        return false;
    int dest_width = fit ? GetDeviceCaps(dc, HORZRES) : width;
    int dest_height = fit ? GetDeviceCaps(dc, VERTRES) : height;
    int lines = StretchDIBits(dc, 0, 0, dest_width, dest_height, 0, 0, width, height,
                              file.data() + offset, &info, DIB_RGB_COLORS, SRCCOPY);
    EndPage(dc);
    return lines != 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: page_baseline PRINTER OUTPUT asis|fit FILE...\n");
        return 1;
    }
    bool fit = strcmp(argv[3], "fit") == 0;
    wchar_t output[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, argv[2], -1, output, MAX_PATH);
    DWORD started = GetTickCount();
    HDC dc = CreateDCA(nullptr, argv[1], nullptr, nullptr);
    if (!dc) {
        fprintf(stderr, "CreateDCA failed, %lu\n", GetLastError());
        return 2;
    }
    DOCINFOW doc = {};
    doc.cbSize = sizeof(doc);
    doc.lpszDocName = L"Test Print";
    doc.lpszOutput = output;
    if (StartDocW(dc, &doc) <= 0) {
        fprintf(stderr, "StartDocW failed, %lu\n", GetLastError());
        return 3;
    }
    DWORD pages_started = GetTickCount();
    int drawn = 0;
    for (int i = 4; i < argc; ++i)
        drawn += print_page(dc, read_file(argv[i]), fit);
    DWORD pages_ended = GetTickCount();
    EndDoc(dc);
    DeleteDC(dc);
    DWORD elapsed = GetTickCount() - started;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    printf("pages %d of %d, %lu ms, peak working set %llu KiB, phases %lu %lu %lu ms\n", drawn,
           argc - 4, static_cast<unsigned long>(elapsed),
           static_cast<unsigned long long>(counters.PeakWorkingSetSize / 1024),
           static_cast<unsigned long>(pages_started - started),
           static_cast<unsigned long>(pages_ended - pages_started),
           static_cast<unsigned long>(elapsed - (pages_ended - started)));
    fflush(stdout);
    return drawn == argc - 4 ? 0 : 4;
}
