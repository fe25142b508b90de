#include "PngFile.h"

#include <png.h>

#include <cstdio>

namespace velmorant::host {
namespace {

// libpng reports errors by longjmp: this frame holds nothing that must survive one.
bool writeRows(png_structp png, png_infop info, FILE* out, int width, int height, const png_byte* rgb) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_init_io(png, out);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) png_write_row(png, rgb + static_cast<size_t>(y) * static_cast<size_t>(width) * 3);
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

bool writeRgbPng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
                 std::string& error) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        error = "cannot write " + path;
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = info != nullptr && writeRows(png, info, out, width, height, rgb.data());
    png_destroy_write_struct(&png, &info);
    ok = std::fclose(out) == 0 && ok;
    if (!ok) error = "cannot write " + path;
    return ok;
}

}  // namespace velmorant::host
