// SPDX-License-Identifier: MIT
// A minute of recording, whose audio and video still agree at its end, takes a minute of real
// time. Where its test is to run, the recording starts with the suite and goes on beside the
// other tests; the test, which runs last (this file's name sorts after the others', and the
// suite's tests run in the order their files are linked), judges it. The sanitizer builds leave
// it out (their suites skip LongRealTime.*).
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "vmcapture_harness.h"

using namespace vmctest;

namespace {

struct BackgroundRun {
    ScratchDir dir;
    pid_t pid = -1;
};
BackgroundRun* minute = nullptr;

class MinuteBesideTheSuite : public testing::Environment {
public:
    void SetUp() override {
        const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
        for (int i = 0; i < unit.total_test_suite_count(); ++i)
            if (std::string(unit.GetTestSuite(i)->name()) == "LongRealTime" &&
                unit.GetTestSuite(i)->test_to_run_count() > 0 && VMCAPTURE_RECORDS) {
                minute = new BackgroundRun;
                minute->pid =
                    StartTool(RecordingArgs("minute.mkv", 60, 10, "160x120"), minute->dir.Path());
            }
    }
    void TearDown() override {
        if (minute != nullptr && minute->pid > 0) StopTool(minute->pid, SIGKILL, 10);
        delete minute;
        minute = nullptr;
    }
};
testing::Environment* const kMinute = testing::AddGlobalTestEnvironment(new MinuteBesideTheSuite);

TEST(LongRealTime, MinuteOfRecordingEndsInStep) {
    if (!VMCAPTURE_RECORDS) GTEST_SKIP() << "vmcapture was built without GStreamer";
    ASSERT_TRUE(minute != nullptr && minute->pid > 0);
    const ToolRun run = FinishTool(minute->pid, minute->dir.Path(), 120);
    minute->pid = -1;
    ExpectInStep(run, minute->dir.Path(), "minute.mkv", "h264", 60, 10);
}

}  // namespace
