// Arbitrary bytes as a BMP file, read by the tools' reader both from memory and from a file
// (which unpacks inside its own buffer): both must agree, and neither may read or write
// outside its buffers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "greyio.h"

namespace {

// A scratch folder for the input file, removed at exit.
struct Scratch {
    std::filesystem::path file;
    Scratch() {
        std::string t = (std::filesystem::temp_directory_path() / "greyio-fuzz-XXXXXX").string();
        if (!mkdtemp(t.data()))
            std::abort();
        file = std::filesystem::path(t) / "input.bmp";
    }
    ~Scratch() { std::filesystem::remove_all(file.parent_path()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Scratch scratch;
    greyio_image mem;
    const int rc = greyio_bmp_decode(data, size, &mem);
    FILE* f = std::fopen(scratch.file.c_str(), "wb");
    if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
        std::abort();
    greyio_image file;
    if (greyio_bmp_load(scratch.file.c_str(), &file) != rc)
        std::abort();
    if (rc == GREYIO_OK) {
        const size_t n = size_t(mem.width) * mem.height;
        if (file.width != mem.width || file.height != mem.height || file.ppi != mem.ppi ||
            std::memcmp(file.pixels, mem.pixels, n) != 0)
            std::abort();
        std::free(mem.pixels);
        std::free(file.pixels);
    }
    return 0;
}
