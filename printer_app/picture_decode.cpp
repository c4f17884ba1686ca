#include "picture_decode.h"

#include <csetjmp>

#include <jpeglib.h>
#include <png.h>

namespace {

bool fits(unsigned width, unsigned height) {
    return width > 0 && height > 0 && width <= MAX_PICTURE_SIDE && height <= MAX_PICTURE_SIDE;
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

} // namespace

// No C++ object with a destructor lives across the jump.
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

bool read_png(const char *path, Picture &p, std::string &why) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path)) {
        image.format = image.format & PNG_FORMAT_FLAG_COLOR ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
        p.width = image.width;
        p.height = image.height;
        p.depth = PNG_IMAGE_PIXEL_CHANNELS(image.format);
        if (!fits(p.width, p.height)) {
            png_image_free(&image);
            why = "the PNG picture is larger than can be printed";
            return false;
        }
        p.pixels.resize(PNG_IMAGE_SIZE(image));
        png_color white{255, 255, 255};
        png_image_finish_read(&image, &white, p.pixels.data(), 0, nullptr);
    }
    std::string message = image.message;
    png_image_free(&image);
    if (image.warning_or_error & PNG_IMAGE_ERROR) {
        why = "the PNG picture cannot be read: " + message;
        return false;
    }
    return true;
}
