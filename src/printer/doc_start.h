// Start of a job's printer document: the device mode, the printer's device
// context and the document whose output the driver writes into the file that
// the request names. The progress window is the start-print handler's.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "base/print_request.h"
#include "base/protocol_codes.h"

// The document start answers STATUS_OK or STATUS_INVALID, besides what
// get_devmode_by_name answers; the status travels to the server unchanged.

// Bitmap job (data type 1), first step: builds the device mode and creates
// printer_dc with it, abandoning a document left open by an earlier job.
// STATUS_OK or the failure's status; nothing is left open on failure.
int open_printer_dc(const PrintRequest *request);

// Second step, on the DC that open_printer_dc made: starts the document
// whose output the driver writes into the request's file. On STATUS_OK
// job_state is JOB_STATE_DOC_STARTED and page_width/page_height hold the
// printable area; the DC stays open for the pages. When StartDocW fails the
// DC is deleted and printer_dc cleared.
int start_doc_for_bmp(const PrintRequest *request);

// Where the open document writes its output: the request's name anchored
// on drive C: when the document started; empty while none is open.
const std::wstring &document_output_path();

// Ends the open document, whose output the driver then writes, and deletes
// printer_dc. False only when the driver could not end a started document.
bool finish_document();

// Ends an open document without leaving output: its file is removed,
// printer_dc deleted and cleared. Nothing happens when no DC is open.
void abandon_document();

// Text jobs are not supported: always STATUS_INVALID, nothing opened.
int start_doc_for_text();

// A new UTF-16 copy of an ANSI code page string, NUL included, or null when
// it cannot be converted or allocated. Release it with free (or WideText).
wchar_t *ansi_to_wide(const char *text);

struct WideTextDeleter {
    void operator()(wchar_t *text) const { free(text); }
};
using WideText = std::unique_ptr<wchar_t, WideTextDeleter>;
