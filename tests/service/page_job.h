// A print job opened by hand on the rig's printer, as the start of a job
// leaves it, for the page and job-completion tests; answers are read back
// from the send queue (no send thread runs).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/queued_packet.h"
#include "support/wine_host.h"

inline bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// Where the rig's prefix keeps drive C: (the real folder, not Wine's device
// link), followed by `name`.
std::string drive_c_unix_path(const std::string &name);

class PageJob : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // current_job for `pages` pages, printer_dc with a started document whose
    // output goes to C:\<output_name>, job_state JOB_STATE_DOC_STARTED.
    void open_job(uint32_t pages, uint32_t scale = 0);
    // Only the record and JOB_STATE_ACCEPTED: the document start failed.
    void accept_job(uint32_t pages);

    // Writes a page file into the test's folder; returns its unix path.
    std::string write_page(const char *name, const std::vector<unsigned char> &bytes);
    // Hands the path to HandlePageFilename with its NUL, as the dispatcher
    // does; returns the page's reply (and checks there is exactly one).
    QueuedPacket send_page(const std::string &unix_path, uint32_t req_id);

    std::string printer;
    std::string output_name;
    std::wstring output_dos_path; // C:\<output_name>
    std::wstring folder;          // where the page files are written
};
