// The printer system's own picture filters turn a landscape picture to suit
// the paper only when the job's orientation is "none", which an IPP/1.1
// printer cannot have as its default: these decode the picture the same way
// and ask for that turn themselves unless the job asks for landscape or a
// reverse orientation, as CUPS's own picture filters and a native queue do.
#include "picture_job.h"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "job_common.h"

namespace {

// No larger picture is decoded (16384 x 16384 in colour is 768 MiB), as the
// printer system's own limits say.
constexpr unsigned MAX_PICTURE_SIDE = 16384;

struct Picture {
    std::vector<unsigned char> pixels; // grey or sRGB, top row first
    unsigned width = 0, height = 0;
    int depth = 0; // bytes a pixel, 1 or 3
    int ppi = 0;   // 0: unknown
};

bool refuse(pappl_job_t *job, const std::string &why) {
    return report_job_failure(job, why, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
}

bool fits(unsigned width, unsigned height) {
    return width > 0 && height > 0 && width <= MAX_PICTURE_SIDE && height <= MAX_PICTURE_SIDE;
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

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX] = "";
};

[[noreturn]] void jpeg_failed(j_common_ptr info) {
    auto *error = reinterpret_cast<JpegError *>(info->err);
    error->manager.format_message(info, error->message);
    std::longjmp(error->back, 1);
}

// Decodes into `p`; the decoder's words on failure. No C++ object with a
// destructor lives across the jump.
bool read_jpeg(FILE *file, Picture &p, std::string &why) {
    jpeg_decompress_struct info{};
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpeg_failed;
    if (setjmp(error.back)) {
        jpeg_destroy_decompress(&info);
        why = std::string("the JPEG picture cannot be read: ") + error.message;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = info.num_components > 1 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_calc_output_dimensions(&info);
    p.width = info.output_width;
    p.height = info.output_height;
    p.depth = info.output_components;
    if (info.density_unit == 1)
        p.ppi = info.X_density;
    if (!fits(p.width, p.height)) {
        jpeg_destroy_decompress(&info);
        why = "the JPEG picture is larger than can be printed";
        return false;
    }
    p.pixels.resize(size_t(p.width) * p.height * size_t(p.depth));
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = p.pixels.data() + size_t(info.output_scanline) * p.width * size_t(p.depth);
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
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
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Picture p;
    if (png_image_begin_read_from_file(&image, papplJobGetFilename(job))) {
        image.format = image.format & PNG_FORMAT_FLAG_COLOR ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
        p.width = image.width;
        p.height = image.height;
        p.depth = PNG_IMAGE_PIXEL_CHANNELS(image.format);
        if (!fits(p.width, p.height)) {
            png_image_free(&image);
            return refuse(job, "the PNG picture is larger than can be printed");
        }
        p.pixels.resize(PNG_IMAGE_SIZE(image));
        png_color white{255, 255, 255};
        png_image_finish_read(&image, &white, p.pixels.data(), 0, nullptr);
    }
    std::string message = image.message;
    png_image_free(&image);
    if (image.warning_or_error & PNG_IMAGE_ERROR)
        return refuse(job, "the PNG picture cannot be read: " + message);
    return print_picture(job, device, p);
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
