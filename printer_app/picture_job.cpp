// The printer system's own picture filters turn a landscape picture to suit
// the paper only when the job's orientation is "none", which an IPP/1.1
// printer cannot have as its default: these decode the picture the same way
// and ask for that turn themselves unless the job asks for landscape or a
// reverse orientation, as CUPS's own picture filters and a native queue do.
#include "picture_job.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "job_common.h"
#include "picture_decode.h"

namespace {

bool refuse(pappl_job_t *job, const std::string &why) {
    return report_job_failure(job, why, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
}

bool print_picture(pappl_job_t *job, pappl_device_t *device, const Picture &p) {
    std::unique_ptr<pappl_pr_options_t, OptionsDeleter> options(
        papplJobCreatePrintOptions(job, 1, p.depth == 3));
    if (!options)
        return refuse(job, "no memory for the job's options");
    // CUPS's queues send the printer's default, portrait, with every job, so
    // portrait is taken as no choice: only another orientation is kept.
    if (options->orientation_requested == IPP_ORIENT_PORTRAIT)
        options->orientation_requested = IPP_ORIENT_NONE;
    return papplJobFilterImage(job, device, options.get(), p.pixels.data(), int(p.width),
                               int(p.height), p.depth, p.ppi, true);
}

bool jpeg_filter(pappl_job_t *job, pappl_device_t *device, void *) {
    std::unique_ptr<FILE, int (*)(FILE *)> file(fopen(papplJobGetFilename(job), "rb"), fclose);
    Picture picture;
    std::string why = "the JPEG picture cannot be opened";
    if (!file || !read_jpeg(file.get(), picture, why))
        return refuse(job, why);
    return print_picture(job, device, picture);
}

bool png_filter(pappl_job_t *job, pappl_device_t *device, void *) {
    Picture picture;
    std::string why;
    if (!read_png(papplJobGetFilename(job), picture, why))
        return refuse(job, why);
    return print_picture(job, device, picture);
}

} // namespace

// PAPPL 1.3 registers its own filters under these names before an
// application can add one for the same types, and then finds its own first;
// the library takes their addresses through its global offset table, so
// these definitions stand in for them.
extern "C" bool _papplJobFilterJPEG(pappl_job_t *job, pappl_device_t *device, void *data) {
    return jpeg_filter(job, device, data);
}

extern "C" bool _papplJobFilterPNG(pappl_job_t *job, pappl_device_t *device, void *data) {
    return png_filter(job, device, data);
}
