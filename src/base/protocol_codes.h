// Pure: builds natively, no windows.h.
// Every number the program shares with the outside: the codes of the
// packets it exchanges with the server, the statuses they carry and the
// process's exit codes. One line a name, `NAME = value,`, so that other
// tools can read the catalogue as it stands here.
#pragma once

#include <cstdint>

// Requests of the server; each is answered with REPLY_BASE + the action.
enum : uint16_t {
    ACTION_START_PRINT = 1,
    ACTION_PAGE_FILENAME = 2,
    ACTION_SET_VALUE = 3,
    ACTION_DOCUMENT_PROPERTIES = 4,
    ACTION_DEVICE_PROPERTIES = 5,
    ACTION_END_JOB = 6,
    ACTION_SHUTDOWN = 7,
    ACTION_GET_PRINT_PAGE = 8,
};

// Notices of the server; none is answered.
enum : uint16_t {
    NOTIFY_PRINT_DONE = 0x3001,
    NOTIFY_HEARTBEAT = 0x3002,
    NOTIFY_CANCEL_PRINT_DONE = 0x3003,
};

// The program's own packets.
enum : uint16_t {
    REPLY_BASE = 0x1000,
    MSG_JOB_RESULT = 0x2001,
    MSG_HEARTBEAT = 0x2002,
    MSG_USER_CANCEL = 0x2003,
    MSG_RECEIVE_FAILED = 0x2004,
};

// Statuses of answers, job results and reception failures. A number means
// the same wherever it travels; the comment says what produces it.
enum : uint32_t {
    STATUS_OK = 0,                    // success
    STATUS_INVALID = 1,               // invalid request or general failure
    STATUS_BAD_FRAME = 2,             // bad magic or trailer
    STATUS_BAD_VERSION = 4,           // bad version
    STATUS_BAD_DATA_TYPE = 5,         // invalid data type
    STATUS_IO_FAILED = 6,             // receive or file failure
    STATUS_PRINTER_NOT_OPENED = 8,    // printer cannot be opened
    STATUS_BAD_NAME = 9,              // invalid output file name or no printer name
    STATUS_OUT_OF_MEMORY = 11,        // out of memory
    STATUS_NO_Y_RESOLUTION = 12,      // print quality without Y resolution
    STATUS_DIALOG_DURING_JOB = 13,    // "Printing in progress": a settings dialog during a job
    STATUS_BAD_DUPLEX = 14,           // invalid duplex mode
    STATUS_NOT_BMP = 15,              // page file is not a BMP
    STATUS_USER_CANCELLED = 16,       // user cancelled a property dialog
    STATUS_TIMED_OUT = 19,            // receive time-out
    STATUS_DOCUMENT_NOT_STARTED = 20, // job accepted but document not started
    STATUS_REFUSED = 21,              // "Print in progress" or "Action not implemented"
    STATUS_BAD_PAGE_COUNT = 23,       // invalid page count
    STATUS_NO_BODY = 24,              // page message without body
    STATUS_OTHER_JOB = 25,            // page-size query for another job
};

// Exit codes of the process.
enum ExitCode : int {
    EXIT_AFTER_SESSION = 0, // a session ran, whatever its outcome
    EXIT_USAGE = 1,         // too few command-line entries
    EXIT_BAD_PORT = 2,      // port outside 1..65535
    EXIT_NO_SPOOLER = 5,    // spooler service not running
    EXIT_NO_SOCKETS = 6,    // socket library failure
};
