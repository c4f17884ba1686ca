// What the spooler and a printer's driver report about the installed
// printers: the list, and for one printer its capabilities, papers with the
// metrics of an information context made for each, and its default settings.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "query/query_format.h"

// Why a query failed; exit_code is the query program's: 2 when the printer
// cannot be opened, 3 for any other failing call.
struct QueryFailure {
    int exit_code = 0;
    std::wstring message; // names the call and its error code
};

enum : int { QUERY_CANNOT_OPEN = 2, QUERY_CALL_FAILED = 3 };

// Records the thread's last error against `call`, made for `printer` unless
// it is empty; always false.
bool call_failed(QueryFailure *failure, const std::wstring &call, const std::wstring &printer);

// The settings a driver's device mode states: the fields whose dmFields bit
// is set, and a resolution for a positive print quality, its y the quality's
// unless a positive Y resolution is set.
DefaultSettings default_settings(const DEVMODEW &dm);

// Local printers and connections; false with *failure set when the spooler fails.
bool query_printers(std::vector<PrinterEntry> *printers, QueryFailure *failure);

// Everything format_capabilities writes about printer `name`.
bool query_capabilities(const std::wstring &name, PrinterCapabilities *capabilities,
                        QueryFailure *failure);
