#include <png.h>

#include <cstdio>

#include "png_writer.h"

bool PngAvailable() { return true; }

bool WritePngFile(const char* path, const uint8_t* rgb, int32_t width, int32_t height)
{
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool done = false;
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int32_t y = 0; y < height; ++y) png_write_row(png, &rgb[static_cast<size_t>(y) * width * 3]);
        png_write_end(png, nullptr);
        done = true;
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && done;
}
