// The C++ face of the tools' shared BMP reader (greyio): same files accepted and refused as
// by the WSQ tools, pixels mapped through the grey palette.
#include "nfiq_bmp.h"

#include <cstdlib>

#include "greyio.h"

namespace nfiq {
namespace {

bool take(int rc, greyio_image& img, GreyImage& out, std::string* error) {
    if (rc != GREYIO_OK) {
        if (error)
            *error = greyio_strerror(rc);
        return false;
    }
    out.width = static_cast<int>(img.width);
    out.height = static_cast<int>(img.height);
    out.pixels.assign(img.pixels, img.pixels + static_cast<size_t>(img.width) * img.height);
    std::free(img.pixels);
    return true;
}

} // namespace

bool decode_bmp(const uint8_t* data, size_t size, GreyImage& out, std::string* error) {
    greyio_image img;
    return take(greyio_bmp_decode(data, size, &img), img, out, error);
}

bool read_bmp(const std::string& path, GreyImage& out, std::string* error) {
    greyio_image img;
    return take(greyio_bmp_load(path.c_str(), &img), img, out, error);
}

} // namespace nfiq
