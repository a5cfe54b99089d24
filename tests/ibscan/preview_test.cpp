// The live preview drawn into the host's widget, on the offscreen platform.
#include "IBScanSim.h"
#include "IBScanUltimateApi.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <memory>
#include <string>

namespace {

class PreviewTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "ibscan_preview_test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            app_ = new QApplication(argc, argv);
    }

    void SetUp() override {
        int line = 0;
        ASSERT_EQ(IBSIM_Reset("[sim]\nclock=manual\n[scanner.1]\nmodel=WATSON\n", &line), 0);
        host_ = std::make_unique<QWidget>();
        host_->resize(500, 400);
        host_->show();
        ASSERT_EQ(IBSU_OpenDevice(0, &h_), 0);
    }
    void TearDown() override {
        IBSIM_Reset("", nullptr);
        settle();
        host_.reset();
    }

    static void settle() {
        IBSIM_WaitIdle();
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
    }
    QWidget* preview() { return host_->findChild<QWidget*>(QStringLiteral("IBScanPreview")); }
    std::string property(int id) {
        char v[IBSU_PROPERTY_BUFFER_SIZE] = {};
        EXPECT_EQ(IBSU_GetClientWindowProperty(h_, id, v), 0);
        return v;
    }

    static inline QApplication* app_ = nullptr;
    std::unique_ptr<QWidget> host_;
    int h_ = 0;
};

TEST_F(PreviewTest, DrawsTheScaledImageAndOverlaysInAChildOfTheHost) {
    EXPECT_EQ(property(IBSU_WINDOW_PROPERTY_SCALE_FACTOR), "0.000000");
    ASSERT_EQ(IBSU_CreateClientWindow(h_, host_.get(), 10, 20, 410, 320), 0);
    settle();
    QWidget* w = preview();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), QRect(10, 20, 400, 300));
    // An 800 x 750 print in 400 x 300: scale 0.4, centred across.
    EXPECT_EQ(property(IBSU_WINDOW_PROPERTY_SCALE_FACTOR), "0.400000");
    EXPECT_EQ(property(IBSU_WINDOW_PROPERTY_LEFT_MARGIN), "40");
    EXPECT_EQ(property(IBSU_WINDOW_PROPERTY_TOP_MARGIN), "0");

    int quad = 0;
    ASSERT_EQ(
        IBSU_AddOverlayQuadrangle(h_, &quad, 5, 5, 30, 5, 30, 30, 5, 30, 3, IBSU_RGB(0, 128, 0)),
        0);
    ASSERT_EQ(IBSU_BeginCaptureImage(h_, 2, 500, 0), 0);
    ASSERT_EQ(IBSIM_PlaceFinger(1, nullptr, 0), 0);
    settle();
    const QImage shot = w->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(17, 5)), QColor(0, 128, 0)) << "quadrangle edge";
    EXPECT_EQ(QColor(shot.pixel(20, 150)), QColor(Qt::white)) << "left of the image";
    int dark = 0;
    for (int x = 150; x < 250; ++x)
        dark += qGray(shot.pixel(x, 150)) < 140;
    EXPECT_GT(dark, 10) << "ridges in the middle of the print";

    // Hidden again by all-zero corners.
    ASSERT_EQ(IBSU_ModifyOverlayQuadrangle(h_, quad, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0);
    settle();
    EXPECT_EQ(QColor(w->grab().toImage().pixel(17, 5)), QColor(Qt::white));

    ASSERT_EQ(IBSU_CloseDevice(h_), 0);
    settle();
    EXPECT_EQ(preview(), nullptr) << "the close removes the preview";
}

TEST_F(PreviewTest, HostDestroyedFirstStopsTheDrawingSafely) {
    ASSERT_EQ(IBSU_CreateClientWindow(h_, host_.get(), 0, 0, 200, 200), 0);
    settle();
    ASSERT_NE(preview(), nullptr);
    host_.reset();
    ASSERT_EQ(IBSU_BeginCaptureImage(h_, 2, 500, 0), 0);
    ASSERT_EQ(IBSIM_PlaceFinger(1, nullptr, 0), 0);
    settle();
    EXPECT_EQ(IBSU_CloseDevice(h_), 0);
    settle();
}

} // namespace
