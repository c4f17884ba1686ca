// JPEG and PNG pictures decoded into plain pixels, for the application's
// picture filters and the command's picture pages alike.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// No larger picture is decoded (16384 x 16384 in colour is 768 MiB), as the
// printer system's own limits say.
constexpr unsigned MAX_PICTURE_SIDE = 16384;

struct Picture {
    std::vector<unsigned char> pixels; // grey or sRGB, top row first
    unsigned width = 0, height = 0;
    int depth = 0; // bytes a pixel, 1 or 3
    int ppi = 0;   // 0: unknown
};

// Each decodes into `p`; false with the decoder's words in `why`.
bool read_jpeg(FILE *file, Picture &p, std::string &why);
bool read_png(const char *path, Picture &p, std::string &why);
