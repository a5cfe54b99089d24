// The scanner API through the simulator, with the manual clock: the test moves time and
// waits until the event thread has delivered everything before it looks.
#include "recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

// Record layouts the host relies on.
static_assert(sizeof(IBSU_DeviceDesc) == 648);
static_assert(offsetof(IBSU_DeviceDesc, serialNumber) == 0);
static_assert(offsetof(IBSU_DeviceDesc, productName) == 128);
static_assert(offsetof(IBSU_DeviceDesc, fwVersion) == 384);
static_assert(sizeof(IBSU_ImageData) == 64);
static_assert(offsetof(IBSU_ImageData, Buffer) == 0);
static_assert(offsetof(IBSU_ImageData, Width) == 8);
static_assert(offsetof(IBSU_ImageData, Height) == 12);
static_assert(offsetof(IBSU_ImageData, ResolutionX) == 16);
static_assert(offsetof(IBSU_ImageData, ResolutionY) == 24);
static_assert(offsetof(IBSU_ImageData, Pitch) == 40);
static_assert(offsetof(IBSU_ImageData, BitsPerPixel) == 44);
static_assert(sizeof(IBSU_SegmentPosition) == 16);
static_assert(offsetof(IBSU_SegmentPosition, y4) == 14);

namespace {

namespace fs = std::filesystem;

const char* kOneWatson = "[sim]\nclock = manual\n"
                         "[scanner.1]\nmodel = WATSON\nserial = S-1\nfirmware = 2.0.1\n";

class IbscanTest : public ::testing::Test {
  protected:
    void SetUp() override { load(kOneWatson); }
    void TearDown() override { IBSIM_Reset("", nullptr); } // forget our handlers

    void load(const std::string& text) {
        int line = -1;
        ASSERT_EQ(IBSIM_Reset(text.c_str(), &line), IBSU_STATUS_OK) << "line " << line;
        ASSERT_EQ(line, 0);
    }
    int open(int index = 0) {
        int h = -1;
        EXPECT_GE(IBSU_OpenDevice(index, &h), 0);
        EXPECT_GT(h, 0);
        EXPECT_EQ(rec.listen(h), IBSU_STATUS_OK);
        return h;
    }
    void settle() { ASSERT_EQ(IBSIM_WaitIdle(), IBSU_STATUS_OK); }
    void advance(int ms) {
        ASSERT_EQ(IBSIM_AdvanceTime(ms), IBSU_STATUS_OK);
        settle();
    }
    std::vector<int> kindsSinceClear() {
        settle();
        auto k = rec.kinds();
        rec.clear();
        return k;
    }

    Recorder rec;
};

using K = std::vector<int>;
constexpr int kCount = IBSU_EVENT_DEVICE_COUNT, kBreak = IBSU_EVENT_COMMUNICATION_BREAK,
              kPreview = IBSU_EVENT_PREVIEW_IMAGE, kAcqBegin = IBSU_EVENT_ACQUISITION_BEGIN,
              kAcqEnd = IBSU_EVENT_ACQUISITION_END, kQuality = IBSU_EVENT_FINGER_QUALITY,
              kFingers = IBSU_EVENT_FINGER_COUNT, kProgress = IBSU_EVENT_INIT_PROGRESS,
              kPlaten = IBSU_EVENT_PLATEN, kResult = IBSU_EVENT_RESULT_IMAGE;

TEST_F(IbscanTest, EnumeratesScannersWithTheirDescriptions) {
    load("[sim]\nclock=manual\n[scanner.1]\nmodel=WATSON\nserial=A1\nfirmware=1.2\n"
         "[scanner.2]\nmodel=\nserial=B2\n[scanner.3]\nmodel=CURVE\ndescription_result=-200\n");
    int n = 0;
    ASSERT_EQ(IBSU_GetDeviceCount(&n), IBSU_STATUS_OK);
    ASSERT_EQ(n, 3);
    IBSU_DeviceDesc d;
    ASSERT_EQ(IBSU_GetDeviceDescription(0, &d), IBSU_STATUS_OK);
    EXPECT_STREQ(d.productName, "WATSON");
    EXPECT_STREQ(d.serialNumber, "A1");
    EXPECT_STREQ(d.fwVersion, "1.2");
    EXPECT_EQ(d.isHandleOpened, 0);
    ASSERT_EQ(IBSU_GetDeviceDescription(1, &d), IBSU_STATUS_OK);
    EXPECT_STREQ(d.productName, ""); // the host lists such a scanner as unknown
    EXPECT_EQ(IBSU_GetDeviceDescription(2, &d), -200);
    EXPECT_EQ(IBSU_GetDeviceDescription(3, &d), IBSU_ERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(IBSU_GetDeviceDescription(-1, &d), IBSU_ERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(IBSU_GetDeviceDescription(0, nullptr), IBSU_ERR_INVALID_PARAM_VALUE);
    EXPECT_EQ(IBSU_GetDeviceCount(nullptr), IBSU_ERR_INVALID_PARAM_VALUE);
}

TEST_F(IbscanTest, OpenAnswersAsTheScenarioSays) {
    struct Case {
        int result;
        bool opens;
    } cases[] = {{0, true},
                 {IBSU_WRN_ALREADY_INITIALIZED, true},
                 {-203, false},
                 {-209, false},
                 {-200, false}};
    for (const auto& c : cases) {
        load(std::string(kOneWatson) + "open_result = " + std::to_string(c.result) + "\n");
        int h = 12345;
        EXPECT_EQ(IBSU_OpenDevice(0, &h), c.result);
        if (c.opens) {
            EXPECT_GT(h, 0);
            IBSU_DeviceDesc d;
            ASSERT_EQ(IBSU_GetDeviceDescription(0, &d), 0);
            EXPECT_EQ(d.handle, h);
            EXPECT_EQ(IBSU_OpenDevice(0, &h), IBSU_ERR_DEVICE_ACTIVE) << "second open";
        } else {
            EXPECT_EQ(h, -1) << c.result;
            EXPECT_EQ(IBSU_OpenDevice(0, &h), IBSU_STATUS_OK) << "the next open succeeds";
        }
    }
    EXPECT_EQ(IBSU_OpenDevice(5, nullptr), IBSU_ERR_INVALID_PARAM_VALUE);
    int h = 0;
    EXPECT_EQ(IBSU_OpenDevice(5, &h), IBSU_ERR_DEVICE_NOT_FOUND);
}

TEST_F(IbscanTest, OpenReportsProgressOnTheEventThreadBeforeItReturns) {
    load(std::string(kOneWatson) + "open_progress = 10, 50, 100\n");
    ASSERT_EQ(rec.listen(0), IBSU_STATUS_OK);
    int h = 0;
    ASSERT_EQ(IBSU_OpenDevice(0, &h), 0);
    auto ev = rec.ofKind(kProgress); // no settle: the open waited for them
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].arg, 10);
    EXPECT_EQ(ev[2].arg, 100);
    EXPECT_EQ(ev[0].first, 0) << "device index";
    for (const auto& e : ev)
        EXPECT_NE(e.thread, std::this_thread::get_id());
    // A failing open stops short of 100.
    load(std::string(kOneWatson) + "open_progress = 10, 100\nopen_result = -209\n");
    rec.clear();
    ASSERT_EQ(rec.listen(0), IBSU_STATUS_OK);
    EXPECT_EQ(IBSU_OpenDevice(0, &h), -209);
    settle();
    ev = rec.ofKind(kProgress);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].arg, 10);
}

TEST_F(IbscanTest, FlatAutoCaptureRaisesEventsInOrderOnTheEventThread) {
    load(std::string(kOneWatson) + "[capture]\nfinger_ms = 300\nstable_ms = 200\n");
    const int h = open();
    ASSERT_EQ(IBSU_BeginCaptureImage(h, IBSU_FLAT_SINGLE_FINGER, 500,
                                     IBSU_OPTION_AUTO_CONTRAST | IBSU_OPTION_AUTO_CAPTURE),
              IBSU_STATUS_OK);
    int active = 0;
    EXPECT_EQ(IBSU_IsCaptureActive(h, &active), 0);
    EXPECT_NE(active, 0);
    EXPECT_EQ(kindsSinceClear(), (K{kPreview, kQuality, kFingers}));
    advance(299);
    EXPECT_EQ(kindsSinceClear(), K{}) << "the finger is not there yet";
    advance(1);
    auto events = rec.events();
    EXPECT_EQ(kindsSinceClear(), (K{kFingers, kQuality, kPreview}));
    EXPECT_EQ(events[0].arg, IBSU_FINGER_COUNT_OK);
    EXPECT_EQ(events[1].qualities, (std::vector<int>{1, 0, 0, 0}));
    advance(200);
    events = rec.events();
    ASSERT_EQ(kindsSinceClear(), K{kResult});
    const auto& r = events[0];
    EXPECT_EQ(r.first, h);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.imageType, IBSU_FLAT_SINGLE_FINGER);
    EXPECT_EQ(r.fingers, 1);
    ASSERT_EQ(r.segmentCount, 1);
    EXPECT_EQ(r.image.BitsPerPixel, 8);
    EXPECT_EQ(r.image.ResolutionX, 500.0);
    EXPECT_NE(r.thread, std::this_thread::get_id());
    // The segment is the finger cut out of the whole image at its quadrangle.
    const auto& q = r.quads[0];
    const auto& s = r.segments[0];
    EXPECT_EQ(q.x2 - q.x1 + 1, static_cast<int>(s.Width));
    EXPECT_EQ(q.y4 - q.y1 + 1, static_cast<int>(s.Height));
    EXPECT_EQ(r.segmentPixels[0][0],
              r.pixels[static_cast<std::size_t>(q.y1) * r.image.Width + q.x1]);
    EXPECT_EQ(IBSU_IsCaptureActive(h, &active), 0);
    EXPECT_EQ(active, 0);
}

TEST_F(IbscanTest, RolledCaptureFramesTheRollWithAcquisitionEvents) {
    load(std::string(kOneWatson) + "[capture]\nfinger_ms = 100\nstable_ms = 500\n");
    const int h = open();
    ASSERT_EQ(IBSU_BeginCaptureImage(h, IBSU_ROLL_SINGLE_FINGER, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    advance(100);
    EXPECT_EQ(kindsSinceClear(),
              (K{kPreview, kQuality, kFingers, kFingers, kAcqBegin, kQuality, kPreview}));
    // Lifting the finger ends the roll before the stable time.
    ASSERT_EQ(IBSIM_LiftFinger(1), 0);
    auto events = (settle(), rec.events());
    EXPECT_EQ(kindsSinceClear(), (K{kAcqEnd, kResult}));
    EXPECT_EQ(events[0].arg, IBSU_ROLL_SINGLE_FINGER);
    EXPECT_EQ(events[1].status, 0);
    EXPECT_EQ(events[1].imageType, IBSU_ROLL_SINGLE_FINGER);
    advance(1000);
    EXPECT_EQ(kindsSinceClear(), K{}) << "nothing after the result";
}

// Columns [first, last] that hold ridges (grey below 200) in an image.
std::pair<int, int> inkColumns(const std::vector<uint8_t>& px, int w, int h) {
    int first = w, last = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (px[static_cast<std::size_t>(y) * w + x] < 200) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
    return {first, last};
}

TEST_F(IbscanTest, RollLastsUntilTheLiftAndGivesAWiderPrintThanAFlatOne) {
    load(std::string(kOneWatson) +
         "[capture]\nfinger_ms = 100\nstable_ms = 400\nlift_ms = 4000\nseed = 7\n");
    const int h = open();
    ASSERT_EQ(IBSU_BeginCaptureImage(h, IBSU_FLAT_SINGLE_FINGER, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    advance(600);
    ASSERT_EQ(rec.ofKind(kResult).size(), 1u);
    const RecordedEvent flat = rec.ofKind(kResult)[0];
    rec.clear();

    ASSERT_EQ(IBSU_BeginCaptureImage(h, IBSU_ROLL_SINGLE_FINGER, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    advance(3000); // far beyond the stable time: still rolling
    EXPECT_TRUE(rec.ofKind(kResult).empty());
    const RecordedEvent firstView = rec.ofKind(kPreview).back();
    advance(1000); // the lift
    ASSERT_EQ(rec.ofKind(kResult).size(), 1u);
    const RecordedEvent rolled = rec.ofKind(kResult)[0];
    const int w = static_cast<int>(flat.image.Width), ht = static_cast<int>(flat.image.Height);
    const auto [f0, f1] = inkColumns(flat.pixels, w, ht);
    const auto [r0, r1] = inkColumns(rolled.pixels, w, ht);
    const auto [v0, v1] = inkColumns(firstView.pixels, w, ht);
    EXPECT_GT(r1 - r0, (f1 - f0) * 14 / 10) << "a rolled print is much wider than a flat one";
    EXPECT_LT(v1 - v0, (r1 - r0) / 2) << "the preview shows the roll beginning";
    EXPECT_GE(v0, r0);
    // The quadrangle of the rolled finger spans the rolled print.
    ASSERT_EQ(rolled.segmentCount, 1);
    EXPECT_LE(rolled.quads[0].x1, r0);
    EXPECT_GE(rolled.quads[0].x3, r1);

    // A scripted finger that the script never lifts rolls for a while, then leaves.
    load(std::string(kOneWatson) + "[capture]\nfinger_ms = 100\nstable_ms = 400\n");
    rec.clear();
    const int h2 = open();
    ASSERT_EQ(IBSU_BeginCaptureImage(h2, IBSU_ROLL_SINGLE_FINGER, 500, IBSU_OPTION_AUTO_CAPTURE),
              0);
    advance(1000);
    EXPECT_TRUE(rec.ofKind(kResult).empty());
    advance(1000);
    EXPECT_EQ(rec.ofKind(kResult).size(), 1u);
}

TEST_F(IbscanTest, SlapIsOneHandWithGapsBetweenTheFingers) {
    for (int fingers : {2, 4}) {
        load("[sim]\nclock=manual\n[scanner.1]\nmodel=KOJAK\n[capture]\nfinger_ms=0\n"
             "stable_ms=10\n");
        const int h = open();
        const int type = fingers == 2 ? IBSU_FLAT_TWO_FINGERS : IBSU_FLAT_FOUR_FINGERS;
        ASSERT_EQ(IBSU_BeginCaptureImage(h, type, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
        advance(10);
        ASSERT_EQ(rec.ofKind(kResult).size(), 1u);
        const RecordedEvent r = rec.ofKind(kResult)[0];
        rec.clear();
        ASSERT_EQ(r.segmentCount, fingers);
        const int w = static_cast<int>(r.image.Width), ht = static_cast<int>(r.image.Height);
        auto column = [&](int x) { // darkest grey of a column
            int v = 255;
            for (int y = 0; y < ht; ++y)
                v = std::min<int>(v, r.pixels[static_cast<std::size_t>(y) * w + x]);
            return v;
        };
        for (int i = 0; i < fingers; ++i) {
            const auto& q = r.quads[static_cast<std::size_t>(i)];
            // Each finger's rectangle holds ridges and lies within the image.
            EXPECT_GT(q.x3 - q.x1, w / fingers / 4);
            EXPECT_GT(q.y3 - q.y1, ht / 5);
            if (i == 0)
                continue;
            // White platen between neighbours, through the whole height: no finger
            // touches the next, and no tile edge runs down the picture.
            const int gapFrom = r.quads[static_cast<std::size_t>(i - 1)].x3 + 1, gapTo = q.x1;
            ASSERT_LT(gapFrom, gapTo) << fingers << " fingers, gap " << i;
            for (int x = gapFrom; x < gapTo; ++x)
                EXPECT_GE(column(x), 200) << fingers << " fingers, column " << x;
        }
        if (fingers == 4) // the middle fingers reach higher than the little finger
            EXPECT_LT(r.quads[1].y1, r.quads[3].y1);
        IBSU_CloseDevice(h);
    }
}

TEST_F(IbscanTest, AutoCaptureWaitsForGoodQualityAndTheRightFingerCount) {
    struct Case {
        std::vector<int> qualities;
        int countState;
        int options;
        bool completes;
    } cases[] = {
        {{1, 0, 0, 0}, IBSU_FINGER_COUNT_OK, 0, true},
        {{2, 0, 0, 0}, IBSU_FINGER_COUNT_OK, 0, true},
        {{3, 0, 0, 0}, IBSU_FINGER_COUNT_OK, 0, false},
        {{1, 4, 0, 0}, IBSU_FINGER_COUNT_OK, 0, false},
        {{1, 0, 0, 0}, IBSU_TOO_MANY_FINGERS, 0, false},
        {{1, 0, 0, 0}, IBSU_TOO_MANY_FINGERS, IBSU_OPTION_IGNORE_FINGER_COUNT, true},
    };
    for (const auto& c : cases) {
        load(kOneWatson);
        const int h = open();
        ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, IBSU_OPTION_AUTO_CAPTURE | c.options), 0);
        ASSERT_EQ(IBSIM_SetFingerCountState(1, c.countState), 0);
        ASSERT_EQ(IBSIM_PlaceFinger(1, c.qualities.data(), 4), 0);
        advance(5000);
        EXPECT_EQ(rec.ofKind(kResult).size(), c.completes ? 1u : 0u)
            << "quality " << c.qualities[0] << "," << c.qualities[1] << " state " << c.countState;
        rec.clear();
    }
}

TEST_F(IbscanTest, ManualTakeDeliversTheResultAndNeedsARunningCapture) {
    const int h = open();
    EXPECT_EQ(IBSU_TakeResultImageManually(h), IBSU_ERR_CAPTURE_NOT_RUNNING);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, 0), 0);
    EXPECT_EQ(IBSU_BeginCaptureImage(h, 2, 500, 0), IBSU_ERR_CAPTURE_STILL_RUNNING);
    ASSERT_EQ(IBSIM_PlaceFinger(1, nullptr, 0), 0);
    advance(10000);
    EXPECT_TRUE(rec.ofKind(kResult).empty()) << "no automatic capture without the option";
    ASSERT_EQ(IBSU_TakeResultImageManually(h), 0);
    settle();
    auto results = rec.ofKind(kResult);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].status, 0);
    EXPECT_EQ(results[0].segmentCount, 1);
    // With nothing on the platen the result is an error without segments.
    rec.clear();
    ASSERT_EQ(IBSIM_LiftFinger(1), 0);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, 0), 0);
    ASSERT_EQ(IBSU_TakeResultImageManually(h), 0);
    settle();
    results = rec.ofKind(kResult);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].status, IBSU_ERR_CAPTURE_NO_FINGER);
    EXPECT_EQ(results[0].segmentCount, 0);
    EXPECT_EQ(results[0].fingers, 0);
}

TEST_F(IbscanTest, CancelDropsWhatTheCaptureHadQueued) {
    load(std::string(kOneWatson) + "[capture]\nfinger_ms = 100\nstable_ms = 100\n");
    const int h = open();
    ASSERT_EQ(IBSU_CancelCaptureImage(h), IBSU_ERR_CAPTURE_NOT_RUNNING);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    // Queued and cancelled before the event thread runs: with the lock-step of the manual
    // clock nothing of the capture may arrive after the cancel returns.
    ASSERT_EQ(IBSU_CancelCaptureImage(h), 0);
    settle();
    rec.clear();
    advance(1000);
    EXPECT_EQ(rec.kinds(), K{});
    int active = 1;
    EXPECT_EQ(IBSU_IsCaptureActive(h, &active), 0);
    EXPECT_EQ(active, 0);
    // The next capture runs normally.
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    advance(200);
    EXPECT_EQ(rec.ofKind(kResult).size(), 1u);
}

TEST_F(IbscanTest, ScannerLossBreaksCommunicationThenChangesTheCount) {
    const int h = open();
    ASSERT_EQ(rec.listen(0), 0);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    settle();
    rec.clear();
    ASSERT_EQ(IBSIM_DetachScanner(1), 0);
    auto events = (settle(), rec.events());
    ASSERT_EQ(rec.kinds(), (K{kBreak, kCount}));
    EXPECT_EQ(events[0].first, h);
    EXPECT_EQ(events[1].first, 0) << "device count";
    int n = -1;
    EXPECT_EQ(IBSU_GetDeviceCount(&n), 0);
    EXPECT_EQ(n, 0);
    int active = 0;
    EXPECT_EQ(IBSU_IsCaptureActive(h, &active), IBSU_ERR_DEVICE_LOST);
    EXPECT_EQ(IBSU_SetLEDs(h, 0), IBSU_ERR_DEVICE_LOST);
    EXPECT_EQ(IBSU_BeginCaptureImage(h, 2, 500, 0), IBSU_ERR_DEVICE_LOST);
    EXPECT_EQ(IBSU_CloseDevice(h), IBSU_STATUS_OK);
    EXPECT_EQ(IBSU_CloseDevice(h), IBSU_ERR_DEVICE_NOT_OPENED);
    // Plugged in again, it is a new scanner with a new handle.
    int id = 0;
    ASSERT_EQ(IBSIM_AttachScanner("WATSON", "S-1", nullptr, &id), 0);
    int h2 = 0;
    ASSERT_EQ(IBSU_OpenDevice(0, &h2), 0);
    EXPECT_NE(h2, h);
}

TEST_F(IbscanTest, CloseAnswersTryAgainAsOftenAsTold) {
    load(std::string(kOneWatson) + "close_busy = 2\n");
    const int h = open();
    ASSERT_EQ(IBSIM_DetachScanner(1), 0); // the lost-scanner path retries the close
    EXPECT_EQ(IBSU_CloseDevice(h), IBSU_ERR_RESOURCE_LOCKED);
    EXPECT_EQ(IBSU_CloseDevice(h), IBSU_ERR_RESOURCE_LOCKED);
    EXPECT_EQ(IBSU_CloseDevice(h), IBSU_STATUS_OK);
    EXPECT_EQ(IBSU_CloseDevice(h), IBSU_ERR_DEVICE_NOT_OPENED);
}

TEST_F(IbscanTest, PlatenMustBeClearBeforeTheFingerCounts) {
    load(std::string(kOneWatson) +
         "[capture]\nplaten_dirty = 1\nplaten_clear_ms = 500\nfinger_ms = 100\n");
    const int h = open();
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    auto events = (settle(), rec.events());
    EXPECT_EQ(kindsSinceClear(), (K{kPlaten, kPreview, kQuality, kFingers}));
    EXPECT_EQ(events[0].arg, IBSU_PLATEN_HAS_FINGERS);
    advance(100);
    EXPECT_EQ(kindsSinceClear(), K{}) << "the finger is ignored while the platen is dirty";
    advance(400);
    events = rec.events();
    EXPECT_EQ(kindsSinceClear(), (K{kPlaten, kFingers, kQuality, kPreview}));
    EXPECT_EQ(events[0].arg, IBSU_PLATEN_CLEARED);
    // Raised and cleared by the control interface.
    ASSERT_EQ(IBSIM_SetPlatenDirty(1, 1), 0);
    ASSERT_EQ(IBSIM_SetPlatenDirty(1, 0), 0);
    events = (settle(), rec.events());
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].arg, IBSU_PLATEN_HAS_FINGERS);
    EXPECT_EQ(events[1].arg, IBSU_PLATEN_CLEARED);
}

TEST_F(IbscanTest, ScriptedStepsPlayTheFingerOverTime) {
    // The count goes wrong for a while: automatic capture waits until it is right again
    // and the finger has then lain still for the stable time.
    load(std::string(kOneWatson) +
         "[capture]\nstable_ms = 100\nat = 0 place\nat = 100 count_state 2\n"
         "at = 200 quality 2,0,0,0\nat = 300 count_state 0\nat = 350 key 5\n");
    const int h = open();
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    advance(399);
    EXPECT_TRUE(rec.ofKind(kResult).empty());
    advance(1);
    EXPECT_EQ(rec.kinds(), (K{kPreview, kQuality, kFingers, kFingers, kQuality, kPreview, kFingers,
                              kQuality, kFingers, IBSU_EVENT_KEY_BUTTON, kResult}));
    std::vector<int> states;
    for (const auto& e : rec.ofKind(kFingers))
        states.push_back(e.arg);
    EXPECT_EQ(states, (std::vector<int>{IBSU_NON_FINGER, 0, 2, 0}));
    EXPECT_EQ(rec.ofKind(kQuality).back().qualities, (std::vector<int>{2, 0, 0, 0}));
    EXPECT_EQ(rec.ofKind(IBSU_EVENT_KEY_BUTTON).at(0).arg, 5);
}

TEST_F(IbscanTest, FourFingerScannerSegmentsEachFinger) {
    load("[sim]\nclock=manual\n[scanner.1]\nmodel=KOJAK\n[capture]\nfinger_ms=0\n"
         "stable_ms=10\n");
    const int h = open();
    int avail = 0;
    ASSERT_EQ(IBSU_IsCaptureAvailable(h, IBSU_FLAT_FOUR_FINGERS, 500, &avail), 0);
    ASSERT_NE(avail, 0);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, IBSU_FLAT_FOUR_FINGERS, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    advance(10);
    auto results = rec.ofKind(kResult);
    ASSERT_EQ(results.size(), 1u);
    const auto& r = results[0];
    EXPECT_EQ(r.fingers, 4);
    ASSERT_EQ(r.segmentCount, 4);
    for (int i = 0; i < 4; ++i) {
        const auto& q = r.quads[static_cast<std::size_t>(i)];
        EXPECT_GE(q.x1, 0);
        EXPECT_LT(q.x3, static_cast<int>(r.image.Width));
        EXPECT_LT(q.y3, static_cast<int>(r.image.Height));
        if (i > 0)
            EXPECT_GT(q.x1, r.quads[static_cast<std::size_t>(i - 1)].x3) << "left to right";
    }
    EXPECT_EQ(rec.ofKind(kQuality).back().qualities, (std::vector<int>{1, 1, 1, 1}));
}

TEST_F(IbscanTest, ForcedResultsAndOversizedReportsReachTheHost) {
    const int h = open();
    // Six segments and six quality places: more than a window has room for.
    ASSERT_EQ(IBSIM_ForceResult(1, IBSU_WRN_WET_FINGERS, 6, 6), 0);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, 0), 0);
    const int q[6] = {1, 2, 3, 1, 7, 1};
    ASSERT_EQ(IBSIM_PlaceFinger(1, q, 6), 0);
    ASSERT_EQ(IBSU_TakeResultImageManually(h), 0);
    settle();
    EXPECT_EQ(rec.ofKind(kQuality).back().qualities, std::vector<int>(q, q + 6));
    auto r = rec.ofKind(kResult).at(0);
    EXPECT_EQ(r.status, IBSU_WRN_WET_FINGERS);
    EXPECT_EQ(r.fingers, 6);
    EXPECT_EQ(r.segmentCount, 6);
    // A forced error applies once, and an error result has no segments.
    rec.clear();
    ASSERT_EQ(IBSIM_ForceResult(1, IBSU_ERR_CAPTURE_FAILED, -1, -1), 0);
    for (int expected : {IBSU_ERR_CAPTURE_FAILED, 0}) {
        ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, 0), 0);
        ASSERT_EQ(IBSU_TakeResultImageManually(h), 0);
        settle();
        r = rec.ofKind(kResult).back();
        EXPECT_EQ(r.status, expected);
        EXPECT_EQ(r.segmentCount, expected < 0 ? 0 : 1);
    }
    // A forced begin error starts nothing.
    ASSERT_EQ(IBSIM_ForceBeginResult(1, -300), 0);
    EXPECT_EQ(IBSU_BeginCaptureImage(h, 2, 500, 0), -300);
    int active = 1;
    EXPECT_EQ(IBSU_IsCaptureActive(h, &active), 0);
    EXPECT_EQ(active, 0);
}

TEST_F(IbscanTest, ScenarioScriptsTheAnswersOfCallsThatCanFail) {
    load(std::string(kOneWatson) +
         "begin_result = -3, 0\nleds_result = -9\nproperty_result = -3\n"
         "window_result = -9\nwindow_property_result = -3\ncontrast_result = -9\n"
         "cancel_result = -3\ntake_result = -9\n");
    const int h = open();
    char v[IBSU_PROPERTY_BUFFER_SIZE] = {};
    int host = 0;
    // Each call fails once with its scripted answer, then works.
    struct Call {
        const char* what;
        std::function<int()> call;
        int failure;
    } calls[] = {
        {"set LEDs", [&] { return IBSU_SetLEDs(h, 1); }, -9},
        {"property", [&] { return IBSU_GetProperty(h, IBSU_PROPERTY_SERIAL_NUMBER, v); }, -3},
        {"window", [&] { return IBSU_CreateClientWindow(h, &host, 0, 0, 100, 100); }, -9},
        {"window property",
         [&] { return IBSU_GetClientWindowProperty(h, IBSU_WINDOW_PROPERTY_SCALE_FACTOR, v); }, -3},
        {"contrast", [&] { return IBSU_SetContrast(h, 3); }, -9},
        {"begin", [&] { return IBSU_BeginCaptureImage(h, 2, 500, 0); }, -3},
        {"take", [&] { return IBSU_TakeResultImageManually(h); }, -9},
    };
    for (auto& c : calls) {
        EXPECT_EQ(c.call(), c.failure) << c.what;
        EXPECT_EQ(c.call(), 0) << c.what;
    }
    uint32_t mask = 0;
    int sets = 0;
    ASSERT_EQ(IBSIM_GetLEDs(1, &mask, &sets), 0);
    EXPECT_EQ(sets, 1) << "a failed set-LEDs changes nothing";
    settle();
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, 0), 0);
    EXPECT_EQ(IBSU_CancelCaptureImage(h), -3);
    int active = 0;
    IBSU_IsCaptureActive(h, &active);
    EXPECT_EQ(active, 1) << "a failed cancel leaves the capture running";
    EXPECT_EQ(IBSU_CancelCaptureImage(h), 0);
}

TEST_F(IbscanTest, ReadBackOfWhatTheHostAsked) {
    const int h = open();
    ASSERT_EQ(IBSU_SetLEDs(h, 0x20000010u), 0);
    ASSERT_EQ(IBSU_SetContrast(h, 34), 0);
    EXPECT_EQ(IBSU_SetContrast(h, 35), IBSU_ERR_INVALID_PARAM_VALUE);
    EXPECT_EQ(IBSU_SetContrast(h, -1), IBSU_ERR_INVALID_PARAM_VALUE);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 1, 500, 7), 0);
    uint32_t mask = 0;
    int sets = 0, contrast = 0, type = 0, res = 0, opts = 0;
    ASSERT_EQ(IBSIM_GetLEDs(1, &mask, &sets), 0);
    EXPECT_EQ(mask, 0x20000010u);
    EXPECT_EQ(sets, 1);
    ASSERT_EQ(IBSIM_GetContrast(1, &contrast), 0);
    EXPECT_EQ(contrast, 34);
    ASSERT_EQ(IBSIM_GetLastCapture(1, &type, &res, &opts), 0);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(res, 500);
    EXPECT_EQ(opts, 7);

    int text = 0, quad = 0;
    ASSERT_EQ(IBSU_AddOverlayText(h, &text, "Arial", 10, 1, "", 10, 10, 0), 0);
    ASSERT_EQ(IBSU_ModifyOverlayText(h, text, "Arial", 10, 1, "Por favor\\r\\n", 10, 10,
                                     IBSU_RGB(255, 0, 0)),
              0);
    ASSERT_EQ(
        IBSU_SetClientWindowOverlayText(h, "Arial", 10, 1, "guia", 10, 10, IBSU_RGB(0, 0, 255)), 0);
    ASSERT_EQ(IBSU_AddOverlayQuadrangle(h, &quad, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(IBSU_ModifyOverlayQuadrangle(h, quad, 1, 2, 3, 4, 5, 6, 7, 8, 1, IBSU_RGB(0, 128, 0)),
              0);
    EXPECT_NE(text, quad);
    char buf[64], font[IBSU_PROPERTY_BUFFER_SIZE];
    int size = 0, bold = 0, x = 0, y = 0, coords[8], width = 0;
    uint32_t colour = 0;
    ASSERT_EQ(IBSIM_GetOverlayText(1, text, buf, sizeof buf, font, &size, &bold, &x, &y, &colour),
              0);
    EXPECT_STREQ(buf, "Por favor\\r\\n");
    EXPECT_STREQ(font, "Arial");
    EXPECT_EQ(colour, 0x0000FFu);
    ASSERT_EQ(IBSIM_GetOverlayText(1, 0, buf, sizeof buf, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &colour),
              0);
    EXPECT_STREQ(buf, "guia");
    EXPECT_EQ(colour, 0xFF0000u);
    ASSERT_EQ(IBSIM_GetOverlayQuadrangle(1, quad, coords, &width, &colour), 0);
    EXPECT_EQ(coords[7], 8);
    EXPECT_EQ(width, 1);
    EXPECT_EQ(colour, 0x008000u);
    // Texts and quadrangles have separate kinds of handle.
    EXPECT_EQ(IBSU_ModifyOverlayText(h, quad, "Arial", 10, 1, "x", 0, 0, 0),
              IBSU_ERR_INVALID_PARAM_VALUE);
    EXPECT_EQ(IBSU_ModifyOverlayQuadrangle(h, text, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
              IBSU_ERR_INVALID_PARAM_VALUE);

    char value[IBSU_PROPERTY_BUFFER_SIZE];
    ASSERT_EQ(IBSU_SetProperty(h, IBSU_PROPERTY_ENABLE_SMEAR, "1"), 0);
    ASSERT_EQ(IBSU_SetProperty(h, IBSU_PROPERTY_SMEAR_LEVEL, "2"), 0);
    ASSERT_EQ(IBSU_GetProperty(h, IBSU_PROPERTY_SMEAR_LEVEL, value), 0);
    EXPECT_STREQ(value, "2");
    ASSERT_EQ(IBSU_SetClientDisplayProperty(h, IBSU_WINDOW_PROPERTY_DISP_INVALID_AREA, "TRUE"), 0);
    ASSERT_EQ(IBSU_GetClientWindowProperty(h, IBSU_WINDOW_PROPERTY_DISP_INVALID_AREA, value), 0);
    EXPECT_STREQ(value, "TRUE");
    ASSERT_EQ(IBSU_GetProperty(h, IBSU_PROPERTY_PRODUCT_ID, value), 0);
    EXPECT_STREQ(value, "WATSON");
}

TEST_F(IbscanTest, EveryCallRefusesBadHandlesPointersAndValues) {
    const int h = open();
    int i = 0, ov = 0;
    char value[IBSU_PROPERTY_BUFFER_SIZE];
    const std::string longText(IBSU_MAX_OVERLAY_TEXT + 1, 'x');
    for (int bad : {0, -1, h + 1000}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(IBSU_CloseDevice(bad), IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_RegisterCallbacks(bad, kResult, nullptr, nullptr),
                  IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_BeginCaptureImage(bad, 2, 500, 0), IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_IsCaptureActive(bad, &i), IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_TakeResultImageManually(bad), IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_CancelCaptureImage(bad), IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_SetLEDs(bad, 0), IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_SetContrast(bad, 0), IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_SetProperty(bad, 19, "1"), IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_GetClientWindowProperty(bad, 3, value), IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_AddOverlayText(bad, &ov, "Arial", 10, 0, "", 0, 0, 0),
                  IBSU_ERR_DEVICE_NOT_OPENED);
        EXPECT_EQ(IBSU_IsCaptureAvailable(bad, 2, 500, &i), IBSU_ERR_DEVICE_NOT_OPENED);
    }
    const int E = IBSU_ERR_INVALID_PARAM_VALUE;
    EXPECT_EQ(IBSU_RegisterCallbacks(h, -1, nullptr, nullptr), E);
    EXPECT_EQ(IBSU_RegisterCallbacks(h, IBSU_EVENT_COUNT, nullptr, nullptr), E);
    EXPECT_EQ(IBSU_BeginCaptureImage(h, 2, 1000, 0), E);
    EXPECT_EQ(IBSU_BeginCaptureImage(h, 2, 500, 8), E);
    EXPECT_EQ(IBSU_BeginCaptureImage(h, IBSU_FLAT_FOUR_FINGERS, 500, 0),
              IBSU_ERR_CAPTURE_INVALID_MODE);
    EXPECT_EQ(IBSU_BeginCaptureImage(h, 99, 500, 0), IBSU_ERR_CAPTURE_INVALID_MODE);
    EXPECT_EQ(IBSU_IsCaptureActive(h, nullptr), E);
    EXPECT_EQ(IBSU_IsCaptureAvailable(h, 2, 500, nullptr), E);
    EXPECT_EQ(IBSU_CreateClientWindow(h, nullptr, 0, 0, 10, 10), E);
    EXPECT_EQ(IBSU_CreateClientWindow(h, &i, 10, 0, 10, 10), E) << "empty rectangle";
    EXPECT_EQ(IBSU_AddOverlayText(h, nullptr, "Arial", 10, 0, "", 0, 0, 0), E);
    EXPECT_EQ(IBSU_AddOverlayText(h, &ov, nullptr, 10, 0, "", 0, 0, 0), E);
    EXPECT_EQ(IBSU_AddOverlayText(h, &ov, "Arial", 10, 0, nullptr, 0, 0, 0), E);
    EXPECT_EQ(IBSU_AddOverlayText(h, &ov, "Arial", 0, 0, "", 0, 0, 0), E);
    EXPECT_EQ(IBSU_AddOverlayText(h, &ov, "Arial", 10, 0, longText.c_str(), 0, 0, 0), E);
    EXPECT_EQ(IBSU_SetClientWindowOverlayText(h, "Arial", 10, 0, "", 1 << 30, 0, 0), E);
    EXPECT_EQ(IBSU_ModifyOverlayText(h, 77, "Arial", 10, 0, "", 0, 0, 0), E);
    EXPECT_EQ(IBSU_AddOverlayQuadrangle(h, &ov, 0, 0, 0, 0, 0, 0, 0, 0, -1, 0), E);
    EXPECT_EQ(IBSU_GetClientWindowProperty(h, 3, nullptr), E);
    EXPECT_EQ(IBSU_GetClientWindowProperty(h, 99, value), E);
    EXPECT_EQ(IBSU_SetClientDisplayProperty(h, 2, "maybe"), E);
    EXPECT_EQ(IBSU_SetClientDisplayProperty(h, 2, nullptr), E);
    EXPECT_EQ(IBSU_SetClientDisplayProperty(h, 3, "1.0"), IBSU_ERR_NOT_SUPPORTED);
    EXPECT_EQ(IBSU_SetProperty(h, 20, "3"), E);
    EXPECT_EQ(IBSU_SetProperty(h, 19, "yes please"), E);
    EXPECT_EQ(IBSU_SetProperty(h, IBSU_PROPERTY_SERIAL_NUMBER, "x"), IBSU_ERR_NOT_SUPPORTED);
    EXPECT_EQ(IBSU_GetProperty(h, 999, value), E);
    // Overlays are bounded.
    int made = 0;
    while (IBSU_AddOverlayQuadrangle(h, &ov, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) == 0)
        ++made;
    EXPECT_EQ(made, IBSU_MAX_OVERLAYS);
    EXPECT_STRNE(IBSU_GetErrorString(-12345), nullptr);
}

TEST_F(IbscanTest, HandlersMayCallBackIntoTheLibrary) {
    // As the capture window does: the finger-count handler sets the LEDs, and a result
    // handler closes the device.
    struct Ctx {
        std::atomic<int> leds{0};
        std::atomic<int> closed{1};
    } ctx;
    load(std::string(kOneWatson) + "[capture]\nfinger_ms=0\nstable_ms=10\n");
    int h = 0;
    ASSERT_EQ(IBSU_OpenDevice(0, &h), 0);
    auto onCount = [](int handle, void* c, int) {
        static_cast<Ctx*>(c)->leds = IBSU_SetLEDs(handle, 0x30000000u) == 0 ? 1 : -1;
    };
    auto onResult = [](int handle, void* c, int, IBSU_ImageData, int, int, int,
                       const IBSU_ImageData*, const IBSU_SegmentPosition*) {
        static_cast<Ctx*>(c)->closed = IBSU_CloseDevice(handle);
    };
    ASSERT_EQ(
        IBSU_RegisterCallbacks(
            h, kFingers, IBSU_CALLBACK(+static_cast<IBSU_Callback_FingerCount>(onCount)), &ctx),
        0);
    ASSERT_EQ(
        IBSU_RegisterCallbacks(
            h, kResult, IBSU_CALLBACK(+static_cast<IBSU_Callback_ResultImage>(onResult)), &ctx),
        0);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    advance(10);
    EXPECT_EQ(ctx.leds.load(), 1);
    EXPECT_EQ(ctx.closed.load(), 0);
    EXPECT_EQ(IBSU_CloseDevice(h), IBSU_ERR_DEVICE_NOT_OPENED);
    EXPECT_EQ(IBSIM_WaitIdle(), 0);
}

TEST_F(IbscanTest, ScenarioTimesAttachAndDetachScanners) {
    load("[sim]\nclock=manual\n[scanner.1]\nattach_ms=100\ndetach_ms=300\n"
         "[scanner.2]\nmodel=CURVE\n");
    ASSERT_EQ(rec.listen(0), 0);
    int n = 0;
    IBSU_GetDeviceCount(&n);
    EXPECT_EQ(n, 1);
    advance(100);
    IBSU_GetDeviceCount(&n);
    EXPECT_EQ(n, 2);
    IBSU_DeviceDesc d;
    ASSERT_EQ(IBSU_GetDeviceDescription(1, &d), 0);
    EXPECT_STREQ(d.productName, "WATSON") << "attached last, listed last";
    advance(200);
    auto counts = rec.ofKind(kCount);
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_EQ(counts[0].first, 2);
    EXPECT_EQ(counts[1].first, 1);
}

TEST_F(IbscanTest, ScenarioErrorsNameLineKeyAndReason) {
    struct Case {
        const char* text;
        int line;
        const char* why; // part of the message: what is wrong and what is expected
    } cases[] = {
        {"[scanner.1]\nmodel = WATSON\nbogus = 1\n", 3, "unknown key 'bogus' in [scanner.N]"},
        {"[capture]\nstable_ms = 1\nfinger_mss = 800\n", 3,
         "unknown key 'finger_mss' in [capture]; expected one of: finger_ms,"},
        {"model = WATSON\n", 1, "'model' before any section"},
        {"[sim]\nclock = sometimes\n", 2, "expected realtime, manual or immediate"},
        {"[scanner.1]\n[scanner.1]\n", 2, "[scanner.1] appears twice"},
        {"[scanner.0]\n", 1, "bad section numbers in [scanner.0] (numbers start at 1)"},
        {"[scanner.17]\n", 1, "scanner id from 1 to 16"},
        {"[capture.1.2]\nfinger_ms = -5\n", 2, "finger_ms = -5: expected a time"},
        {"[capture]\nquality = 1,,2\n", 2, "quality = 1,,2: expected a list"},
        {"[capture]\nresult = 99999999999\n", 2, "result = 99999999999: expected"},
        {"[scanner.1]\ntypes = 5\n", 2, "types = 5: expected a list of image types 1..4"},
        {"[scanner.1]\nbegin_result = x\n", 2, "begin_result = x: expected a list"},
        {"[nothing]\n", 1, "unknown section [nothing]; expected [sim]"},
        {"[scanner.1\n", 1, "without its closing ']'"},
        {"; fine\n\n[scanner.1]\nopen_result = 0, x\n", 4, "open_result = 0, x: expected"},
        {"[capture]\nat = 100 wiggle\n", 2, "unknown action 'wiggle'; expected quality,"},
        {"[capture]\nat = 100 count_state 4\n", 2, "expected a number from 0 to 3"},
        {"[capture]\nat = lift\n", 2, "expected a time in milliseconds"},
        {"[sim]\njust words\n", 2, "no 'key = value' line"},
    };
    for (const auto& c : cases) {
        int line = 0;
        EXPECT_EQ(IBSIM_Reset(c.text, &line), IBSU_ERR_INVALID_PARAM_VALUE) << c.text;
        EXPECT_EQ(line, c.line) << c.text;
        char why[1024] = {};
        ASSERT_EQ(IBSIM_GetScenarioError(why, sizeof why), 0);
        EXPECT_NE(std::string(why).find("line " + std::to_string(c.line) + ": "), std::string::npos)
            << why;
        EXPECT_NE(std::string(why).find(c.why), std::string::npos) << why;
        int n = -1;
        IBSU_GetDeviceCount(&n);
        EXPECT_EQ(n, 0) << "a bad scenario leaves no scanner";
    }
    // Comments, case and spacing are free.
    load("# scanners\n[SIM]\nClock = Manual ; for tests\n[Scanner.2]\n  MODEL=COLUMBO  \n");
    IBSU_DeviceDesc d;
    ASSERT_EQ(IBSU_GetDeviceDescription(0, &d), 0);
    EXPECT_STREQ(d.productName, "COLUMBO");
}

TEST_F(IbscanTest, DefaultScannerCapturesAPrintByItself) {
    ASSERT_EQ(IBSIM_Reset(nullptr, nullptr), 0);
    ASSERT_EQ(IBSIM_SetClock(IBSIM_CLOCK_IMMEDIATE), 0);
    IBSU_DeviceDesc d;
    ASSERT_EQ(IBSU_GetDeviceDescription(0, &d), 0);
    EXPECT_STREQ(d.productName, "WATSON");
    const int h = open();
    for (int capture = 0; capture < 2; ++capture) {
        ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
        settle();
        auto results = rec.ofKind(kResult);
        ASSERT_EQ(results.size(), static_cast<std::size_t>(capture + 1));
        const auto& r = results.back();
        EXPECT_EQ(r.status, 0);
        int64_t now = 0;
        IBSIM_GetTime(&now);
        // A plausible print: a light background around the finger, ridges and valleys on it.
        const auto& px = r.pixels;
        const std::size_t w = r.image.Width, hgt = r.image.Height;
        EXPECT_GE(px[0], 230);
        EXPECT_GE(px[w * hgt - 1], 230);
        int dark = 0, light = 0;
        for (std::size_t x = w / 2 - 50; x < w / 2 + 50; ++x) {
            const uint8_t v = px[(hgt / 2) * w + x];
            dark += v < 110;
            light += v > 190;
        }
        EXPECT_GT(dark, 15);
        EXPECT_GT(light, 15);
    }
    // The two captures are different prints.
    auto results = rec.ofKind(kResult);
    EXPECT_NE(results[0].pixels, results[1].pixels);
}

TEST_F(IbscanTest, RendererIsDeterministicPerSeed) {
    std::vector<uint8_t> a(300 * 400), b(300 * 400), c(300 * 400);
    ibsim_render_print(7, 300, 400, a.data());
    ibsim_render_print(7, 300, 400, b.data());
    ibsim_render_print(8, 300, 400, c.data());
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

// ---- Bitmap writer ----

std::vector<uint8_t> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le32(const std::vector<uint8_t>& b, std::size_t o) {
    return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | static_cast<uint32_t>(b[o + 3]) << 24;
}

class BitmapTest : public ::testing::Test {
  protected:
    fs::path dir =
        fs::temp_directory_path() /
        ("ibscan_bmp_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
         std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(BitmapTest, WritesGreyBottomUpRowsPaddedToFour) {
    // A 3 x 2 picture in a buffer with 5-byte rows: 1 2 3 / 4 5 6.
    const uint8_t buf[] = {1, 2, 3, 99, 99, 4, 5, 6, 99, 99};
    const fs::path down = dir / "down.bmp", up = dir / "up.bmp";
    ASSERT_EQ(IBSU_SaveBitmapImage(down.c_str(), buf, 3, 2, 5, 500, 500), 0);
    // The same picture described from its top row backwards in memory.
    const uint8_t rev[] = {4, 5, 6, 99, 99, 1, 2, 3, 99, 99};
    ASSERT_EQ(IBSU_SaveBitmapImage(up.c_str(), rev + 5, 3, 2, -5, 500, 500), 0);
    const auto b = readFile(down);
    EXPECT_EQ(readFile(up), b);
    ASSERT_EQ(b.size(), 1078u + 8u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(le32(b, 2), 1086u);  // file size
    EXPECT_EQ(le32(b, 10), 1078u); // pixel offset
    EXPECT_EQ(le32(b, 14), 40u);
    EXPECT_EQ(le32(b, 18), 3u);
    EXPECT_EQ(le32(b, 22), 2u); // positive height: bottom-up
    EXPECT_EQ(b[28], 8);
    EXPECT_EQ(le32(b, 30), 0u);
    EXPECT_EQ(le32(b, 34), 8u);
    EXPECT_EQ(le32(b, 38), 19685u); // 500 dpi in pixels per metre
    for (int i : {0, 77, 255}) {
        EXPECT_EQ(b[54 + 4 * i], i);
        EXPECT_EQ(b[54 + 4 * i + 2], i);
        EXPECT_EQ(b[54 + 4 * i + 3], 0);
    }
    const std::vector<uint8_t> pixels(b.begin() + 1078, b.end());
    EXPECT_EQ(pixels, (std::vector<uint8_t>{4, 5, 6, 0, 1, 2, 3, 0}));
}

TEST_F(BitmapTest, RefusesBadArgumentsAndLeavesNoFileOnFailure) {
    const uint8_t px[16] = {};
    const std::string p = (dir / "x.bmp").string();
    const int E = IBSU_ERR_INVALID_PARAM_VALUE;
    EXPECT_EQ(IBSU_SaveBitmapImage(nullptr, px, 4, 4, 4, 500, 500), E);
    EXPECT_EQ(IBSU_SaveBitmapImage(p.c_str(), nullptr, 4, 4, 4, 500, 500), E);
    EXPECT_EQ(IBSU_SaveBitmapImage(p.c_str(), px, 0, 4, 4, 500, 500), E);
    EXPECT_EQ(IBSU_SaveBitmapImage(p.c_str(), px, 4, 0, 4, 500, 500), E);
    EXPECT_EQ(IBSU_SaveBitmapImage(p.c_str(), px, 4, 4, 3, 500, 500), E) << "pitch < width";
    EXPECT_EQ(IBSU_SaveBitmapImage(p.c_str(), px, 4, 4, -3, 500, 500), E);
    EXPECT_EQ(IBSU_SaveBitmapImage(p.c_str(), px, 100000, 1, 100000, 500, 500), E);
    EXPECT_FALSE(fs::exists(p));
    const std::string missing = (dir / "no" / "such" / "x.bmp").string();
    EXPECT_EQ(IBSU_SaveBitmapImage(missing.c_str(), px, 4, 4, 4, 500, 500), IBSU_ERR_FILE_OPEN);
    // Nonsense resolutions are written as unknown.
    ASSERT_EQ(IBSU_SaveBitmapImage(p.c_str(), px, 4, 4, 4, -1, 0.0 / 0.0), 0);
    const auto b = readFile(p);
    EXPECT_EQ(le32(b, 38), 0u);
    EXPECT_EQ(le32(b, 42), 0u);
}

TEST_F(BitmapTest, ScannerDeliversAPrintFromABitmapFile) {
    // A 5 x 3 ramp written by the library, then used as the scanner's image source.
    std::vector<uint8_t> ramp(15);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<uint8_t>(i * 10);
    const fs::path file = dir / "ramp.bmp";
    ASSERT_EQ(IBSU_SaveBitmapImage(file.c_str(), ramp.data(), 5, 3, 5, 500, 500), 0);
    // A scenario file names it relative to its own folder.
    const fs::path scenario = dir / "scenario.ini";
    std::ofstream(scenario) << kOneWatson << "[capture]\nimage = ramp.bmp\nfinger_ms = 0\n"
                            << "stable_ms = 0\n";
    int line = -1;
    ASSERT_EQ(IBSIM_LoadScenarioFile(scenario.c_str(), &line), 0) << line;
    Recorder rec;
    int h = 0;
    ASSERT_EQ(IBSU_OpenDevice(0, &h), 0);
    ASSERT_EQ(rec.listen(h), 0);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    ASSERT_EQ(IBSIM_AdvanceTime(0), 0);
    ASSERT_EQ(IBSIM_WaitIdle(), 0);
    auto results = rec.ofKind(IBSU_EVENT_RESULT_IMAGE);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].pixels, ramp);
    ASSERT_EQ(results[0].segmentCount, 1);
    EXPECT_EQ(results[0].segmentPixels[0], ramp);
    IBSIM_Reset("", nullptr);
}

TEST_F(BitmapTest, FingerprintFilesSurviveScannerAndWriterUnchanged) {
    // Each reference print, delivered by the scanner and written back by the SDK's writer,
    // has the same pixel rows (odd widths included).
    const fs::path folder = fs::path(STATION_SHARED_DIR) / "fixtures" / "fingerprints";
    if (!fs::is_directory(folder))
        GTEST_SKIP() << "reference prints not found in " << folder;
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".bmp")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++seen;
        const auto original = readFile(entry.path());
        ASSERT_EQ(
            IBSIM_Reset((std::string(kOneWatson) + "[capture]\nfinger_ms = 0\n").c_str(), nullptr),
            0);
        ASSERT_EQ(IBSIM_SetImageSource(1, entry.path().c_str(), 0), 0);
        int h = 0;
        ASSERT_EQ(IBSU_OpenDevice(0, &h), 0);
        Recorder rec;
        ASSERT_EQ(rec.listen(h), 0);
        ASSERT_EQ(IBSU_BeginCaptureImage(h, 2, 500, 0), 0);
        ASSERT_EQ(IBSIM_AdvanceTime(0), 0);
        ASSERT_EQ(IBSU_TakeResultImageManually(h), 0);
        ASSERT_EQ(IBSIM_WaitIdle(), 0);
        auto results = rec.ofKind(IBSU_EVENT_RESULT_IMAGE);
        ASSERT_EQ(results.size(), 1u);
        const IBSU_ImageData img = results[0].image;
        const fs::path out = dir / "out.bmp";
        ASSERT_EQ(IBSU_SaveBitmapImage(out.c_str(), results[0].pixels.data(), img.Width, img.Height,
                                       static_cast<int>(img.Width), 500, 500),
                  0);
        IBSIM_Reset("", nullptr);
        const auto copy = readFile(out);
        ASSERT_EQ(copy.size(), original.size());
        EXPECT_EQ(le32(copy, 18), le32(original, 18));
        EXPECT_EQ(le32(copy, 22), le32(original, 22));
        const std::size_t stride = (img.Width + 3) & ~3u;
        for (std::size_t row = 0; row < img.Height; ++row)
            ASSERT_TRUE(std::equal(copy.begin() + 1078 + row * stride,
                                   copy.begin() + 1078 + row * stride + img.Width,
                                   original.begin() + 1078 + row * stride))
                << "row " << row;
    }
    EXPECT_GT(seen, 0);
}

// ---- NFIQ binding ----

TEST_F(IbscanTest, NfiqScoreGoesThroughTheQualityLibrary) {
    const int h = open();
    std::vector<uint8_t> img(64 * 64, 128);
    int score = 0;
    ASSERT_EQ(IBSIM_SetNfiqLibrary("no-such-dir/libGBNFIQ.so"), 0);
    EXPECT_EQ(IBSU_GetNFIQScore(h, img.data(), 64, 64, 8, &score), IBSU_ERR_NFIQ_UNAVAILABLE);
    ASSERT_EQ(IBSIM_SetNfiqLibrary(IBSCAN_TEST_NFIQ), 0);
    // The stand-in library scores by width and refuses images narrower than 32.
    EXPECT_EQ(IBSU_GetNFIQScore(h, img.data(), 64, 64, 8, &score), 0);
    EXPECT_EQ(score, 64 % 5 + 1);
    EXPECT_EQ(IBSU_GetNFIQScore(h, img.data(), 16, 64, 8, &score), IBSU_ERR_NFIQ_FAILED);
    EXPECT_EQ(IBSU_GetNFIQScore(h, img.data(), 64, 64, 16, &score), IBSU_ERR_INVALID_PARAM_VALUE);
    EXPECT_EQ(IBSU_GetNFIQScore(h, nullptr, 64, 64, 8, &score), IBSU_ERR_INVALID_PARAM_VALUE);
    EXPECT_EQ(IBSU_GetNFIQScore(h, img.data(), 64, 64, 8, nullptr), IBSU_ERR_INVALID_PARAM_VALUE);
    EXPECT_EQ(IBSU_GetNFIQScore(h + 99, img.data(), 64, 64, 8, &score), IBSU_ERR_DEVICE_NOT_OPENED);
    IBSIM_SetNfiqLibrary(nullptr);
}

} // namespace
