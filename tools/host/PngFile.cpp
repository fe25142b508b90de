#include "PngFile.h"

#include "FileIo.h"

#include <png.h>

namespace velmorant::host {
namespace {

void appendBytes(png_structp png, png_bytep bytes, png_size_t size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), bytes, bytes + size);
}

void flushNothing(png_structp) {}

// libpng reports errors by longjmp: this frame holds nothing that must survive one.
bool encodeRows(png_structp png, png_infop info, std::vector<std::uint8_t>& out, int width, int height,
                const png_byte* rgb) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_set_write_fn(png, &out, appendBytes, flushNothing);
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
    std::vector<std::uint8_t> encoded;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    const bool encodedAll = info != nullptr && encodeRows(png, info, encoded, width, height, rgb.data());
    png_destroy_write_struct(&png, &info);
    if (encodedAll) return writeOutputFile(path, encoded, error);
    error = path + ": the picture could not be encoded as PNG";
    return false;
}

}  // namespace velmorant::host
