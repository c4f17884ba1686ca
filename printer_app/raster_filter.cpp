#include "raster_filter.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "job_common.h"
#include "raster_job.h"
#include "raster_pages.h"

namespace {

struct RasterFile {
    int fd = -1;
    cups_raster_t *raster = nullptr;
    explicit RasterFile(const char *path) : fd(open(path, O_RDONLY | O_CLOEXEC)) { rewind(); }
    ~RasterFile() {
        cupsRasterClose(raster);
        if (fd >= 0)
            close(fd);
    }
    // Reads the document from its start again: once more for each copy.
    bool rewind() {
        cupsRasterClose(raster);
        raster =
            fd >= 0 && lseek(fd, 0, SEEK_SET) == 0 ? cupsRasterOpen(fd, CUPS_RASTER_READ) : nullptr;
        return raster != nullptr;
    }
};

bool refuse(pappl_job_t *job, const std::string &why) {
    return report_job_failure(job, why, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR);
}

// The document's page total, or why it cannot print, from the file's bytes
// as they are: nothing of it is decoded.
RasterCount count_pages(int fd, const JobLimits &limits) {
    struct stat info {};
    void *mapped = fstat(fd, &info) == 0 && info.st_size > 0
                       ? mmap(nullptr, size_t(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0)
                       : MAP_FAILED;
    if (mapped == MAP_FAILED)
        return {0, "the raster document is empty or cannot be read"};
    RasterCount count =
        count_raster_pages({static_cast<const unsigned char *>(mapped), size_t(info.st_size)},
                           limits.max_pages, limits.max_page_bytes);
    munmap(mapped, size_t(info.st_size));
    return count;
}

RasterPage page_of(const cups_page_header2_t &h) {
    return {h.cupsWidth,        h.cupsHeight,     h.cupsBitsPerColor, h.cupsBitsPerPixel,
            h.cupsBytesPerLine, h.cupsColorOrder, h.cupsColorSpace,   h.cupsNumColors,
            h.HWResolution[0],  h.HWResolution[1]};
}

struct Printing {
    pappl_job_t *job;
    pappl_device_t *device;
    pappl_pr_driver_data_t driver;
    pappl_pr_options_t *options;
    const JobLimits &limits;
};

// One page, from its header on, through the raster callbacks.
bool print_page(Printing &p, cups_raster_t *raster, const cups_page_header2_t &h, unsigned page) {
    std::string where = "page " + std::to_string(page) + ": ";
    std::string problem = raster_page_problem(page_of(h), p.limits.max_page_bytes);
    if (!problem.empty())
        return fail_raster_job(p.job, where + problem, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
    p.options->header = h;
    if (!p.driver.rstartpage_cb(p.job, p.options, p.device, page))
        return false;
    std::vector<unsigned char> line(h.cupsBytesPerLine);
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
        if (cupsRasterReadPixels(raster, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine)
            return fail_raster_job(p.job, where + "the document ends within the page",
                                   PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
        if (!p.driver.rwriteline_cb(p.job, p.options, p.device, y, line.data()))
            return false;
    }
    if (!p.driver.rendpage_cb(p.job, p.options, p.device, page))
        return false;
    papplJobSetImpressionsCompleted(p.job, 1);
    return true;
}

bool print_raster(pappl_job_t *job, pappl_device_t *device, const char *path,
                  const JobLimits &limits) {
    RasterFile file(path);
    RasterCount count = file.fd >= 0 ? count_pages(file.fd, limits)
                                     : RasterCount{0, "the raster document cannot be opened"};
    cups_page_header2_t header;
    if (!count.refusal.empty())
        return refuse(job, count.refusal);
    if (!file.raster || !cupsRasterReadHeader2(file.raster, &header))
        return refuse(job, "the raster document cannot be read");
    std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(
        papplJobCreatePrintOptions(job, unsigned(count.pages), header.cupsBitsPerPixel > 8));
    if (!options)
        return refuse(job, "no memory for the job's options");
    // Copies come out collated: the document once over for each.
    uint64_t copies = uint64_t(std::max(options->copies, 1)), total = count.pages * copies;
    if (std::string problem = page_total_problem(total, limits.max_pages); !problem.empty())
        return refuse(job, problem);
    papplJobSetImpressions(job, int(total));
    options->num_pages = unsigned(total); // what the Windows program is told
    Printing p{job, device, {}, options.get(), limits};
    papplPrinterGetDriverData(papplJobGetPrinter(job), &p.driver);
    if (!p.driver.rstartjob_cb(job, options.get(), device))
        return false;
    // A page that fails has failed the job: the end callback then releases it.
    bool printing = true;
    for (unsigned page = 1; printing && page <= total; ++page) {
        printing = print_page(p, file.raster, header, page);
        bool next_copy = page % count.pages == 0 && page < total;
        if (printing && page < total &&
            !((!next_copy || file.rewind()) && cupsRasterReadHeader2(file.raster, &header)))
            printing = refuse(job, "the raster document cannot be read again");
    }
    return p.driver.rendjob_cb(job, options.get(), device);
}

bool raster_filter(pappl_job_t *job, pappl_device_t *device, void *) {
    PrinterSetup *setup = setup_of(job);
    const char *path = papplJobGetFilename(job);
    if (!setup || !path)
        return refuse(job, "the job has no raster document");
    return print_raster(job, device, path, setup->app->config.limits);
}

} // namespace

void add_raster_filters(pappl_system_t *system) {
    for (const char *type : {"image/pwg-raster", "image/urf"})
        papplSystemAddMIMEFilter(system, type, "image/pwg-raster", raster_filter, nullptr);
}
