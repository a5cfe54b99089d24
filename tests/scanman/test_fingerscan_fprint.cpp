// The libfprint backend end to end: libfprint's virtual_image device stands for a scanner;
// a real fingerprint sent to its socket must reach AfterScan as an 8-bit bitmap of that
// image.
#include "Helpers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kPrint =
    QStringLiteral(STATION_SHARED_DIR "/fixtures/fingerprints/fvc2000_db1_102_4.bmp");

// Connects to the virtual device's socket, which appears once the device is opened.
int ConnectWhenReady(const QString& path, QDeadlineTimer& guard) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.toLocal8Bit().constData(), sizeof addr.sun_path - 1);
    while (!guard.hasExpired()) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            return fd;
        ::close(fd);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return -1;
}

bool SendAll(int fd, const void* data, size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

TEST(FingerScanFprint, VirtualImageDeviceDeliversToAfterScan) {
    if (!QFile::exists(kPrint))
        GTEST_SKIP() << "shared fixtures not found (" << kPrint.toStdString()
                     << "): the libfprint end-to-end test needs a real fingerprint";
    QImage print(kPrint);
    ASSERT_EQ(print.format(), QImage::Format_Indexed8);
    const int w = print.width(), h = print.height();
    std::vector<unsigned char> pixels(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            pixels[size_t(y) * w + x] = static_cast<unsigned char>(qGray(print.pixel(x, y)));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString socketPath = dir.path() + "/virtual-image.socket";
    setenv("SCANMAN_BACKEND", "fprint", 1);
    setenv("FP_DRIVERS_WHITELIST", "virtual_image", 1);
    setenv("FP_VIRTUAL_IMAGE", socketPath.toLocal8Bit().constData(), 1);
    int argc = 1;
    char name[] = "test_fingerscan_fprint";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());

    ASSERT_EQ(UFingerScanStart(), QString());
    QStringList ids;
    GetScannerIds(ids);
    ASSERT_EQ(ids.size(), 1);
    EXPECT_TRUE(ids[0].startsWith("virtual_image:")) << ids[0].toStdString();

    Capture cap;
    cap.Attach(*FingerScan);
    AcceptScans = true;

    // The deadline only guards against a hang; it is not a performance limit.
    QDeadlineTimer guard(60000);
    const int fd = ConnectWhenReady(socketPath, guard);
    ASSERT_GE(fd, 0) << "virtual_image socket never accepted a connection";
    const int32_t size[2] = {w, h};
    ASSERT_TRUE(SendAll(fd, size, sizeof size));
    ASSERT_TRUE(SendAll(fd, pixels.data(), pixels.size()));
    while (cap.after == 0 && !guard.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ::close(fd);
    UFingerScanEnd();
    QDir::setCurrent(old);

    ASSERT_EQ(cap.after, 1) << "no image reached AfterScan";
    EXPECT_EQ(cap.thread, app.thread());
    EXPECT_EQ(FingerScan, nullptr);
    QImage got = QImage::fromData(cap.file, "BMP");
    ASSERT_FALSE(got.isNull());
    EXPECT_EQ(got.format(), QImage::Format_Indexed8);
    EXPECT_EQ(got.width(), RoundUp4(w)); // 500 ppi: unchanged apart from the rounding
    EXPECT_EQ(got.height(), h);
    int differing = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            differing += FilePixel(cap.file, x, y) != pixels[size_t(y) * w + x];
    EXPECT_EQ(differing, 0) << "the bitmap is not the image sent";
}
