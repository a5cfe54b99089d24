// The scenario named by IBSCAN_SIM_SCENARIO (set by the test registration) describes the
// scanners from the first call on.
#include "recorder.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(IbscanEnvironment, ScenarioFileDescribesTheScanners) {
    if (!std::getenv(IBSIM_SCENARIO_ENV))
        GTEST_SKIP() << IBSIM_SCENARIO_ENV << " is not set";
    int n = 0;
    ASSERT_EQ(IBSU_GetDeviceCount(&n), 0);
    ASSERT_EQ(n, 2);
    IBSU_DeviceDesc d;
    ASSERT_EQ(IBSU_GetDeviceDescription(1, &d), 0);
    EXPECT_STREQ(d.productName, "KOJAK");
    EXPECT_STREQ(d.serialNumber, "ENV-2");
    int h = 0;
    EXPECT_EQ(IBSU_OpenDevice(1, &h), 1) << "opened with a warning";
    Recorder rec;
    ASSERT_EQ(rec.listen(h), 0);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, IBSU_FLAT_TWO_FINGERS, 500, IBSU_OPTION_AUTO_CAPTURE), 0);
    ASSERT_EQ(IBSIM_AdvanceTime(0), 0) << "manual clock from the file";
    ASSERT_EQ(IBSIM_WaitIdle(), 0);
    auto results = rec.ofKind(IBSU_EVENT_RESULT_IMAGE);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].segmentCount, 2);
    EXPECT_EQ(IBSU_CloseDevice(h), 0);
}
