#include "document_job.h"

#include <filesystem>
#include <memory>
#include <tuple>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "imaging/bmp_file.h"
#include "page_image.h"
#include "picture_page.h"

namespace {

// A larger PDF or PostScript file is refused before Ghostscript reads it.
constexpr uint64_t MAX_PDF_BYTES = uint64_t(1) << 30;
// Counting the pages opens the document, no more.
constexpr int COUNT_TIMEOUT_MS = 120 * 1000;

void log(const DocumentJob &job, const std::string &line) {
    if (job.host.log)
        job.host.log(job.host.context, line);
}

bool stop_asked(const DocumentJob &job) {
    return job.host.must_stop && job.host.must_stop(job.host.context);
}

// The first failure is the job's; the program's job ends with it at once,
// so that a front end that is told of it finds the program gone.
bool fail(DocumentJob &job, const std::string &why, JobFault fault = JobFault::FAILED) {
    if (job.fault == JobFault::NONE) {
        job.fault = fault;
        job.error = why;
    }
    ghostscript_stop(job.gs);
    if (job.wine.peer.pid > 0 || job.wine.lock_fd >= 0)
        wine_job_abandon(job.wine, why);
    return false;
}

bool bad_document(DocumentJob &job, const std::string &why) {
    return fail(job, why, JobFault::BAD_DOCUMENT);
}

// While Ghostscript works: the job may have to stop, and the program is
// kept from giving up on us.
bool keep_going(void *context) {
    auto &job = *static_cast<DocumentJob *>(context);
    return !stop_asked(job) && (!job.wine.started || peer_keep_alive(job.wine.peer));
}

std::string named(const JobDocument &d) {
    return d.name.empty() ? "the PDF document" : d.name;
}

// A file mapped for reading, unmapped by its destructor.
struct MappedFile {
    void *data = MAP_FAILED;
    size_t size = 0;
    ~MappedFile() {
        if (data != MAP_FAILED)
            munmap(data, size);
    }
    std::string_view view() const { return {static_cast<const char *>(data), size}; }
};

bool map_file(const std::string &path, MappedFile &file) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        file.size = size_t(info.st_size);
        file.data = mmap(nullptr, file.size, PROT_READ, MAP_PRIVATE, fd, 0);
    }
    if (fd >= 0)
        close(fd);
    return file.data != MAP_FAILED;
}

bool write_new_file(const std::string &path, std::string_view data) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    while (!data.empty()) {
        ssize_t written = write(fd, data.data(), data.size());
        if (written <= 0)
            break;
        data.remove_prefix(size_t(written));
    }
    return close(fd) == 0 && data.empty();
}

// A PDF file as its documents, each a file of its own when there are several
// (CUPS sends the documents of a job as one).
bool split_documents(DocumentJob &job, const JobDocument &file) {
    MappedFile mapped;
    if (!map_file(file.path, mapped))
        return bad_document(job, named(file) + " cannot be read");
    std::string_view data = mapped.view();
    std::vector<size_t> starts = pdf_document_starts(data);
    if (starts.size() == 1) {
        job.documents.push_back(file);
        return true;
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        size_t end = i + 1 < starts.size() ? starts[i + 1] : data.size();
        JobDocument part = file;
        part.path = job.folder + "/document-" + std::to_string(job.documents.size() + 1) + ".pdf";
        if (!write_new_file(part.path, data.substr(starts[i], end - starts[i])))
            return fail(job, "the job's documents cannot be kept apart in " + job.folder);
        job.documents.push_back(part);
    }
    return true;
}

// PostScript is printed as the PDF that Ghostscript makes of it.
bool make_pdf(DocumentJob &job, JobDocument &d) {
    std::string pdf = job.folder + "/document-" + std::to_string(job.documents.size() + 1) + ".pdf";
    Ghostscript converter;
    bool fine =
        ghostscript_start(converter, {"-sDEVICE=pdfwrite", "-sOutputFile=" + pdf}, d.path) &&
        ghostscript_send(converter, ps_string(d.path) + " run") &&
        ghostscript_wait(converter, keep_going, &job);
    std::string error = converter.error;
    // The PDF is written as it ends; one that was stopped is not waited for.
    ghostscript_stop(converter, fine ? converter.limits.command_ms : 2000);
    if (!fine)
        return bad_document(job, named(d) + " cannot be read: " + error);
    d.path = pdf;
    job.documents.push_back(d);
    return true;
}

bool count_pages(DocumentJob &job, JobDocument &d) {
    Ghostscript counter;
    counter.limits.command_ms = COUNT_TIMEOUT_MS;
    bool fine = ghostscript_start(counter, {"-dNODISPLAY"}, d.path) &&
                ghostscript_send(counter, page_count_command(d.path)) &&
                ghostscript_wait(counter, keep_going, &job);
    std::optional<uint32_t> count = parse_page_count(counter.last_line);
    std::string error = fine ? counter.last_line : counter.error;
    if (fine && count && *count > 0 && job.measure &&
        ghostscript_send(counter, page_box_command()) &&
        ghostscript_wait(counter, keep_going, &job)) {
        std::optional<std::pair<double, double>> box = parse_page_box(counter.last_line);
        if (box)
            std::tie(d.width, d.height) = *box;
    }
    ghostscript_stop(counter);
    if (!fine || !count)
        return bad_document(job, named(d) + " cannot be read: " + error);
    if (*count == 0) // what Ghostscript makes of a damaged document
        return bad_document(job, named(d) + " has no pages");
    d.pages = *count;
    return true;
}

// A BMP file is printed as it is, once it passes the program's own checks.
bool check_bmp(DocumentJob &job, const JobDocument &d) {
    MappedFile mapped;
    if (!map_file(d.path, mapped))
        return bad_document(job, d.name + " cannot be read");
    if (mapped.size > job.limits.max_page_bytes)
        return fail(job, d.name + " is larger than the page limit", JobFault::UNPRINTABLE);
    BmpPage page;
    BmpProblem problem =
        check_bmp_page(static_cast<const unsigned char *>(mapped.data), mapped.size, &page);
    if (problem != BmpProblem::NONE)
        return bad_document(job,
                            d.name + " is no BMP page that prints: " + bmp_problem_text(problem));
    job.documents.push_back(d);
    return true;
}

bool open_file(DocumentJob &job, JobDocument file) {
    struct stat info {};
    bool drawn = file.kind == DocumentKind::PDF || file.kind == DocumentKind::POSTSCRIPT;
    if (drawn && (stat(file.path.c_str(), &info) != 0 || uint64_t(info.st_size) > MAX_PDF_BYTES))
        return fail(job, named(file) + " is missing or larger than " +
                             std::to_string(MAX_PDF_BYTES >> 20) + " MiB");
    switch (file.kind) {
    case DocumentKind::PDF:
        return split_documents(job, file);
    case DocumentKind::POSTSCRIPT:
        return make_pdf(job, file);
    case DocumentKind::BMP:
        return check_bmp(job, file);
    default: // a picture is decoded when its page is due
        job.documents.push_back(file);
        return true;
    }
}

// Ghostscript for pages of the printable size the program reported, the
// document opened and the layout's page procedure defined.
bool start_rendering(DocumentJob &job, uint32_t document) {
    const JobDocument &d = job.documents[document];
    uint32_t width = job.wine.printable_width, height = job.wine.printable_height;
    static const char *const fits[] = {"fitted", "filling it", "at their own size"};
    std::string turned = job.layout.quarter_turns < 0
                             ? "turned where that suits the paper"
                             : "turned " + std::to_string(job.layout.quarter_turns) +
                                   " quarter turns counter-clockwise";
    log(job, "Pages of " + std::to_string(width) + " x " + std::to_string(height) + " pixels at " +
                 std::to_string(job.x_dpi) + " x " + std::to_string(job.y_dpi) +
                 " dpi; the document's pages " + turned + ", " + fits[int(job.layout.fit)] +
                 (job.layout.only_larger ? " where larger" : ""));
    ++job.gs_run;
    job.gs_drawn = 0;
    job.gs_document = document;
    std::vector<std::string> args =
        render_arguments(job.colour, width, height, job.x_dpi, job.y_dpi,
                         job.folder + "/gs-" + std::to_string(job.gs_run) + "-%d.bmp");
    if (!ghostscript_start(job.gs, args, d.path) ||
        !ghostscript_send(job.gs, open_document_command(d.path, job.layout)) ||
        !ghostscript_wait(job.gs, keep_going, &job))
        return bad_document(job, named(d) + " cannot be opened: " + job.gs.error);
    return true;
}

bool drawn_by_ghostscript(const JobDocument &d) {
    return d.kind == DocumentKind::PDF || d.kind == DocumentKind::POSTSCRIPT;
}

// Asks Ghostscript for the index-th page of the plan, where it draws it.
bool ask_for_page(DocumentJob &job, uint32_t index) {
    const PlannedPage &page = job.plan[index];
    if (!drawn_by_ghostscript(job.documents[page.document]))
        return true;
    if (job.gs_document != page.document) {
        ghostscript_stop(job.gs);
        if (!start_rendering(job, page.document))
            return false;
    }
    ++job.gs_drawn;
    if (!ghostscript_send(job.gs, draw_page_command(page.number)))
        return bad_document(job, "page " + std::to_string(page.number) + ": " + job.gs.error);
    return true;
}

bool take_drawn_page(DocumentJob &job, const PlannedPage &page, std::string &path) {
    const JobDocument &d = job.documents[page.document];
    std::string what = "page " + std::to_string(page.number) + " of " + named(d);
    if (!ghostscript_wait(job.gs, keep_going, &job))
        return bad_document(job, what + ": " + job.gs.error);
    path = job.folder + "/gs-" + std::to_string(job.gs_run) + "-" + std::to_string(job.gs_drawn) +
           ".bmp";
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return bad_document(job, what + " cannot be drawn: " + job.gs.last_line);
    if (uint64_t(info.st_size) > job.limits.max_page_bytes)
        return fail(job, what + " came out larger than the page limit");
    return true;
}

// The program removes what it printed: a BMP file goes as a copy.
bool copy_bmp(DocumentJob &job, const JobDocument &d, uint32_t index, std::string &path) {
    MappedFile mapped;
    path = job.folder + "/bmp-" + std::to_string(index + 1) + ".bmp";
    if (!map_file(d.path, mapped) || mapped.size > job.limits.max_page_bytes ||
        !write_new_file(path, mapped.view()))
        return fail(job, d.name + " cannot be copied into " + job.folder);
    return true;
}

bool draw_picture(DocumentJob &job, const JobDocument &d, uint32_t index, std::string &path) {
    Picture picture;
    std::string why = d.name + " cannot be opened";
    std::unique_ptr<FILE, int (*)(FILE *)> file(fopen(d.path.c_str(), "rbe"), fclose);
    bool read = d.kind == DocumentKind::PNG ? read_png(d.path.c_str(), picture, why)
                                            : file && read_jpeg(file.get(), picture, why);
    if (!read)
        return bad_document(job, d.name + ": " + why);
    uint32_t width = job.wine.printable_width, height = job.wine.printable_height;
    bool colour = job.colour == PageColour::COLOR;
    RasterFormat format{width,     height,    width * (colour ? 3 : 1),
                        job.x_dpi, job.y_dpi, colour ? PixelKind::RGB_8 : PixelKind::GRAY_8};
    if (!draw_picture_page(picture, job.layout.fit != PageFit::NONE, format,
                           job.limits.max_page_bytes, job.folder, index + 1, path, why))
        return fail(job, d.name + ": " + why);
    return true;
}

// The index-th page of the plan, made and handed to the program's job.
bool take_page(DocumentJob &job, uint32_t index) {
    const PlannedPage &page = job.plan[index];
    const JobDocument &d = job.documents[page.document];
    std::string path;
    bool made = drawn_by_ghostscript(d)       ? take_drawn_page(job, page, path)
                : d.kind == DocumentKind::BMP ? copy_bmp(job, d, index, path)
                                              : draw_picture(job, d, index, path);
    if (made)
        job.wine.pending.push_back(path);
    return made;
}

// The resolution the pages are drawn at, and a page that would pass the
// page limit refused before any is drawn.
bool check_page_format(DocumentJob &job) {
    uint32_t width = job.wine.printable_width, height = job.wine.printable_height;
    for (const JobDocument &d : job.documents)
        if (job.x_dpi == 0 && d.width > 0)
            job.x_dpi = job.y_dpi = estimate_dpi(width, height, d.width, d.height);
    if (job.x_dpi == 0)
        job.x_dpi = job.y_dpi = 300;
    RasterFormat format{width,     height,    width * 3,
                        job.x_dpi, job.y_dpi, page_pixel_kind(job.colour)};
    BmpLayout layout;
    PageRefusal refusal = plan_page(format, job.limits.max_page_bytes, layout);
    if (refusal != PageRefusal::NONE) // the document's paper on this printer: it can never print
        return fail(job,
                    "the printer's page of " + std::to_string(width) + " x " +
                        std::to_string(height) + " pixels: " + page_refusal_text(refusal),
                    JobFault::UNPRINTABLE);
    return true;
}

// Each page is made while the one before it prints.
bool print_pages(DocumentJob &job) {
    const uint32_t total = uint32_t(job.plan.size());
    if (!ask_for_page(job, 0))
        return false;
    for (uint32_t index = 0; index < total; ++index) {
        if (!take_page(job, index) || (index + 1 < total && !ask_for_page(job, index + 1)))
            return false;
        if (!wine_job_send_pages(job.wine, job.host.must_stop, job.host.context))
            return fail(job, job.wine.error);
        if (job.host.printed)
            job.host.printed(job.host.context, index + 1);
    }
    ghostscript_stop(job.gs);
    return true;
}

bool plan(DocumentJob &job) {
    PagePlanRequest request;
    for (const JobDocument &d : job.documents)
        request.document_pages.push_back(d.pages);
    request.ranges = job.ranges;
    request.ranges_per_document = job.ranges_per_document;
    request.copies = job.copies;
    request.collate = job.collate;
    request.max_pages = job.limits.max_pages;
    std::string refusal = plan_job_pages(request, job.plan);
    if (!refusal.empty())
        return fail(job, refusal, JobFault::UNPRINTABLE);
    if (job.host.planned)
        job.host.planned(job.host.context, uint32_t(job.plan.size()));
    return true;
}

} // namespace

bool sniff_document_kind(std::string_view head, DocumentKind &kind) {
    head = head.substr(0, 1024);
    auto starts = [&](std::string_view magic) { return head.substr(0, magic.size()) == magic; };
    if (starts("%!") || starts("\x04%!"))
        kind = DocumentKind::POSTSCRIPT;
    else if (head.find("%PDF-") != head.npos)
        kind = DocumentKind::PDF;
    else if (starts("BM"))
        kind = DocumentKind::BMP;
    else if (starts("\x89PNG\r\n"))
        kind = DocumentKind::PNG;
    else if (starts("\xff\xd8\xff"))
        kind = DocumentKind::JPEG;
    else
        return false;
    return true;
}

DocumentJob::~DocumentJob() {
    ghostscript_stop(gs);
    if (wine.peer.pid > 0 || wine.lock_fd >= 0)
        wine_job_abandon(wine, error.empty() ? "the job ended" : error);
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ignored);
}

bool open_documents(DocumentJob &job, const std::vector<JobDocument> &files) {
    job.folder = make_page_folder("tavri-pdf");
    if (job.folder.empty())
        return fail(job, "no folder for the page images");
    for (const JobDocument &file : files)
        if (!open_file(job, file))
            return false;
    for (JobDocument &d : job.documents)
        if (drawn_by_ghostscript(d) && !count_pages(job, d))
            return false;
    return true;
}

bool print_documents(DocumentJob &job) {
    if (!plan(job))
        return false;
    job.wine.peer.must_stop = job.host.must_stop;
    job.wine.peer.stop_context = job.host.context;
    if (!wine_job_launch(job.wine))
        return fail(job, job.wine.error);
    if (job.host.launched)
        job.host.launched(job.host.context, job.wine);
    if (!wine_job_start(job.wine, uint32_t(job.plan.size())) || !check_page_format(job))
        return fail(job, job.wine.error);
    if (!print_pages(job))
        return false;
    return !stop_asked(job) || fail(job, "the job was stopped");
}

bool finish_documents(DocumentJob &job) {
    return wine_job_finish(job.wine, job.output) || fail(job, job.wine.error);
}
