// An open printer handle that closes itself on every path. The close call is
// the one the opener used, so code whose winspool calls tests replace closes
// through the replacement too.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <memory>

struct PrinterCloser {
    BOOL(WINAPI *close_printer)(HANDLE printer) = ClosePrinter;
    void operator()(HANDLE printer) const { close_printer(printer); }
};
using PrinterHandle = std::unique_ptr<void, PrinterCloser>;
