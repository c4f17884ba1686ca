// A job of documents through the Windows program, for every front end: the
// documents measured (PDF and PostScript by Ghostscript), the pages planned,
// the program's job started, each page drawn one ahead of the printing, and
// the job result. No printer system here: a front end fills the plain
// request, answers through the host's functions, and says what a failure
// means to its users.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ghostscript.h"
#include "job_limits.h"
#include "pdf_plan.h"
#include "wine_job.h"

enum class DocumentKind { PDF, POSTSCRIPT, BMP, PNG, JPEG };

// The kind that a file's first bytes show; false for none that prints.
bool sniff_document_kind(std::string_view head, DocumentKind &kind);

struct JobDocument {
    std::string path; // what is drawn (for PostScript, the PDF made of it)
    std::string name; // in messages; empty: "the PDF document"
    DocumentKind kind = DocumentKind::PDF;
    uint32_t pages = 1;
    double width = 0, height = 0; // the first page in points, where measured
};

// What a job's failure is, for the front end to say.
enum class JobFault { NONE, FAILED, BAD_DOCUMENT, UNPRINTABLE };

// The front end's side: plain functions over its context; any may be null.
struct DocumentJobHost {
    void *context = nullptr;
    bool (*must_stop)(void *context) = nullptr; // cancelled, or past a bound
    // The program runs and the prefix is the job's.
    void (*launched)(void *context, const WineJob &wine) = nullptr;
    void (*planned)(void *context, uint32_t pages) = nullptr;
    void (*printed)(void *context, uint32_t number) = nullptr; // 1 the first
    void (*log)(void *context, const std::string &line) = nullptr;
};

struct DocumentJob {
    DocumentJobHost host;
    JobLimits limits;
    bool measure = false; // the first page's size, for a resolution to be estimated
    // How the pages are planned and drawn; set before print_documents.
    std::vector<PageRange> ranges;
    bool ranges_per_document = true;
    int copies = 1;
    bool collate = true;
    PageColour colour = PageColour::GREY;
    PageLayout layout;
    uint32_t x_dpi = 0, y_dpi = 0; // 0: estimated from the first measured page
    WineJob wine;                  // its setup and settings
    // What the job found and made.
    std::vector<JobDocument> documents;
    std::vector<PlannedPage> plan;
    std::string folder;
    Ghostscript gs;
    uint32_t gs_document = UINT32_MAX, gs_run = 0, gs_drawn = 0;
    JobFault fault = JobFault::NONE;
    std::string error;
    std::string output; // the driver's output file, once the job is done

    DocumentJob() = default;
    DocumentJob(const DocumentJob &) = delete;
    DocumentJob &operator=(const DocumentJob &) = delete;
    ~DocumentJob();
};

// Takes the files in (a PDF file split into the documents it holds,
// PostScript made PDF) and counts their pages. False with fault and error.
bool open_documents(DocumentJob &job, const std::vector<JobDocument> &files);
// The documents' pages through the program, every one sent.
bool print_documents(DocumentJob &job);
// The job result, which `output` names; the program's session ends.
bool finish_documents(DocumentJob &job);
