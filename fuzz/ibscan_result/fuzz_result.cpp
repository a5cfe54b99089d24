// Arbitrary bytes as a BMP image source and as a scenario file. Each scanner the scenario
// attaches is opened and captures every image type it offers; the result records (image,
// segments, quadrangles) must describe memory and coordinates that lie inside the image.
#include "IBScanSim.h"
#include "IBScanUltimateApi.h"
#include "image.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

void onResult(int, void*, int status, IBSU_ImageData img, int type, int fingers, int n,
              const IBSU_ImageData* segs, const IBSU_SegmentPosition* quads) {
    check(img.Buffer && img.Width > 0 && img.Height > 0 && img.BitsPerPixel == 8);
    check(img.Pitch >= static_cast<int32_t>(img.Width));
    check(type >= 1 && type <= 4 && fingers >= 0 && n >= 0 && n <= IBSU_MAX_SEGMENTS);
    check(n == 0 || (segs && quads));
    check(status >= 0 || n == 0); // an error result carries no segments
    volatile uint8_t sink = 0;
    const auto* whole = static_cast<const uint8_t*>(img.Buffer);
    sink = sink + whole[static_cast<std::size_t>(img.Height - 1) * img.Pitch + img.Width - 1];
    for (int i = 0; i < n; ++i) {
        const IBSU_SegmentPosition& q = quads[i];
        const int xs[4] = {q.x1, q.x2, q.x3, q.x4}, ys[4] = {q.y1, q.y2, q.y3, q.y4};
        for (int k = 0; k < 4; ++k)
            check(xs[k] >= 0 && xs[k] < static_cast<int>(img.Width) && ys[k] >= 0 &&
                  ys[k] < static_cast<int>(img.Height));
        const IBSU_ImageData& s = segs[i];
        check(s.Buffer && s.Width > 0 && s.Height > 0 && s.Width <= img.Width &&
              s.Height <= img.Height);
        const auto* p = static_cast<const uint8_t*>(s.Buffer);
        sink = sink + p[static_cast<std::size_t>(s.Height - 1) * s.Pitch + s.Width - 1];
    }
}

void onQuality(int, void*, const int* q, int n) {
    check(n >= 0 && n <= IBSU_MAX_QUALITIES && (n == 0 || q));
}

// A small grey print file every scanner takes its prints from: the built-in generator draws
// a whole synthetic fingerprint per finger, which would spend the run in rendering instead of
// in the scenario reader and the result records.
const char* PlainPrintFile() {
    static const std::string path = [] {
        std::string p = "/tmp/fuzz_ibscan_print_XXXXXX";
        const int fd = mkstemp(p.data());
        if (fd >= 0)
            close(fd);
        constexpr int w = 64, h = 80;
        std::string bmp(1078 + w * h, '\0');
        auto put32 = [&](std::size_t at, uint32_t v) { std::memcpy(&bmp[at], &v, 4); };
        bmp[0] = 'B';
        bmp[1] = 'M';
        put32(2, static_cast<uint32_t>(bmp.size()));
        put32(10, 1078);
        put32(14, 40);
        put32(18, w);
        put32(22, h);
        bmp[26] = 1;
        bmp[28] = 8;
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < 3; ++c)
                bmp[54 + i * 4 + c] = static_cast<char>(i);
        for (int i = 0; i < w * h; ++i)
            bmp[1078 + i] = static_cast<char>((i * 7) & 0xff);
        if (FILE* f = std::fopen(p.c_str(), "wb")) {
            std::fwrite(bmp.data(), 1, bmp.size(), f);
            std::fclose(f);
        }
        return p;
    }();
    return path.c_str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ibsim::Frame frame;
    if (ibsim::decodeBmp8(data, size, frame, 4096))
        check(frame.pixels.size() == static_cast<std::size_t>(frame.width) * frame.height);
    if (size > 8192)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    int line = 0;
    if (IBSIM_Reset(text.c_str(), &line) != IBSU_STATUS_OK) {
        check(line >= 1);
        return 0;
    }
    IBSIM_SetClock(IBSIM_CLOCK_IMMEDIATE);
    IBSIM_WaitIdle();
    for (int id = 0; id <= 64; ++id)
        IBSIM_SetImageSource(id, PlainPrintFile(), 0);
    int count = 0;
    IBSU_GetDeviceCount(&count);
    for (int i = 0; i < count && i < 4; ++i) {
        IBSU_DeviceDesc desc;
        if (IBSU_GetDeviceDescription(i, &desc) == IBSU_STATUS_OK)
            check(std::memchr(desc.productName, 0, sizeof desc.productName) != nullptr);
        int h = -1;
        if (IBSU_OpenDevice(i, &h) < 0) {
            check(h == -1);
            continue;
        }
        IBSU_RegisterCallbacks(h, IBSU_EVENT_RESULT_IMAGE, IBSU_CALLBACK(&onResult), nullptr);
        IBSU_RegisterCallbacks(h, IBSU_EVENT_FINGER_QUALITY, IBSU_CALLBACK(&onQuality), nullptr);
        for (int type = 1; type <= 4; ++type) {
            int avail = 0;
            if (IBSU_IsCaptureAvailable(h, type, 500, &avail) != 0 || !avail)
                continue;
            if (IBSU_BeginCaptureImage(h, type, 500, IBSU_OPTION_AUTO_CAPTURE) < 0)
                continue;
            IBSU_TakeResultImageManually(h);
            IBSIM_WaitIdle();
        }
        while (IBSU_CloseDevice(h) == IBSU_ERR_RESOURCE_LOCKED) {
        }
    }
    IBSIM_Reset("", nullptr);
    return 0;
}
