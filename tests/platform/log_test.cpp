#include <android/log.h>
#include <gtest/gtest.h>

#include <string>

#include "LogCapture.h"

namespace {

TEST(AndroidLog, SinkReceivesPriorityTagAndFormattedText) {
  LogCapture capture;
  __android_log_print(ANDROID_LOG_ERROR, "MemoryTrackerDemo", "%s , add key = %d", "addRef", 7);
  __android_log_print(ANDROID_LOG_INFO, "GOTHookLibrary", "plain");
  std::vector<LogLine> expected = {{6, "MemoryTrackerDemo", "addRef , add key = 7"},
                                   {4, "GOTHookLibrary", "plain"}};
  EXPECT_EQ(capture.lines(), expected);
}

TEST(AndroidLog, StderrLineCarriesPriorityLetterAndTag) {
  testing::internal::CaptureStderr();
  __android_log_print(ANDROID_LOG_ERROR, "MemoryTrackerDemo", "jvm not attached");
  __android_log_print(ANDROID_LOG_WARN, "T", "w");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "E/MemoryTrackerDemo: jvm not attached\nW/T: w\n");
}

TEST(AndroidLog, OverlongLineIsTruncatedLikeTheDeviceLog) {
  LogCapture capture;
  std::string longText(10000, 'x');
  __android_log_print(ANDROID_LOG_ERROR, "T", "%s", longText.c_str());
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0].text, std::string(4067, 'x'));
}

}  // namespace
