// Hookers publishing and trackers subscribing through the started monitor, as
// they do in the app.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "bus_fixtures.h"
#include "core/NativeMonitor.h"
#include "testvm/TestVm.h"

namespace {

using Names = std::vector<std::string>;

void* fakePointer(std::uintptr_t value) { return reinterpret_cast<void*>(value); }

class MonitorBusTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testvm::TestVm& vm = testvm::TestVm::processVm();
    ASSERT_EQ(JNI_OnLoad(vm.javaVm(), nullptr), JNI_VERSION_1_4);
    JNIEnv* env = vm.env();
    vm.callStatic(env, testvm::kMonitorClass, "nativeInit", testvm::kNativeInitSignature,
                  testvm::kFlagLogAll, vm.newString(env, "com.example.app"),
                  vm.newString(env, "/data/app/com.example.app-1/lib/arm"),
                  vm.newStringArray(env, {}), jlong{0}, jlong{0}, jlong{0});
  }

  // The trackers of a test stay subscribed for the life of the process, so
  // each test needs a process of its own, as ctest gives it.
  void SetUp() override {
    static bool monitorUsed = false;
    if (monitorUsed) {
      GTEST_SKIP() << "run each test in its own process";
    }
    monitorUsed = true;
  }

  NativeMonitor* monitor = NativeMonitor::getInstance();
  std::vector<Delivery> deliveries;
};

struct PublishCase {
  std::string name;
  std::string hooker;
  bool after;
  std::string funcName;
  int count;
  std::vector<void*> args;  // what the publisher passes after `count`
  std::string topic;        // the full topic subscribers receive
  Names receivers;
};

void PrintTo(const PublishCase& c, std::ostream* os) { *os << c.name; }

class PublishTest : public MonitorBusTest, public ::testing::WithParamInterface<PublishCase> {
 protected:
  void publish(BaseHooker& hooker, const PublishCase& c) {
    const auto& a = c.args;
    if (c.after) {
      switch (a.size()) {
        case 0:
          return hooker.talkAfterOriginFuncCalled(c.funcName, funcAddr, result, c.count);
        case 1:
          return hooker.talkAfterOriginFuncCalled(c.funcName, funcAddr, result, c.count, a[0]);
        default:
          return hooker.talkAfterOriginFuncCalled(c.funcName, funcAddr, result, c.count, a[0],
                                                  a[1]);
      }
    }
    switch (a.size()) {
      case 0:
        return hooker.talkBeforeOriginFuncCalled(c.funcName, funcAddr, c.count);
      case 1:
        return hooker.talkBeforeOriginFuncCalled(c.funcName, funcAddr, c.count, a[0]);
      default:
        return hooker.talkBeforeOriginFuncCalled(c.funcName, funcAddr, c.count, a[0], a[1]);
    }
  }

  void* const funcAddr = fakePointer(0xf00);
  void* const result = fakePointer(0x7e5);
};

TEST_P(PublishTest, DeliversTheCallToTheSubscribersOfItsPath) {
  const PublishCase& c = GetParam();
  RecordingTracker all("all", deliveries, {"/"}, monitor);
  RecordingTracker freeHooker("free", deliveries, {"/FreeHooker"}, monitor);
  RecordingTracker newGlobalRef("NewGlobalRef", deliveries, {"/GlobalRefHooker/NewGlobalRef"},
                                monitor);
  RecordingTracker checkA("checkA", deliveries, {"/CheckJNIHooker/a"}, monitor);
  RecordingTracker mallocHooker("MallocHooker", deliveries, {"/MallocHooker"}, monitor);
  RecordingTracker malloc("malloc", deliveries, {"/MallocHooker/malloc"}, monitor);
  for (RecordingTracker* t : {&all, &freeHooker, &newGlobalRef, &checkA, &mallocHooker, &malloc}) {
    t->onInit();
  }
  TestHooker hooker(c.hooker, monitor);

  publish(hooker, c);

  Names receivers;
  for (const Delivery& d : deliveries) {
    receivers.push_back(d.tracker);
    EXPECT_EQ(d.topic, c.topic);
    EXPECT_EQ(d.param, deliveries.front().param) << "every subscriber gets the same message";
    EXPECT_EQ(d.message.result, c.after ? result : nullptr);
    EXPECT_EQ(d.message.paramCount, c.count);
    EXPECT_EQ(d.message.paramPtrList, c.count > 0 ? c.args : std::vector<void*>{});
    EXPECT_EQ(d.message.funcAddr, funcAddr);
  }
  EXPECT_EQ(receivers, c.receivers);
}

INSTANTIATE_TEST_SUITE_P(Calls, PublishTest,
                         ::testing::Values(PublishCase{"BeforeWithTwoArguments",
                                                       "GlobalRefHooker",
                                                       false,
                                                       "NewGlobalRef",
                                                       2,
                                                       {fakePointer(0x1), fakePointer(0x2)},
                                                       "/GlobalRefHooker/NewGlobalRef/before",
                                                       {"all", "NewGlobalRef"}},
                                           PublishCase{"AfterWithOneArgument",
                                                       "FreeHooker",
                                                       true,
                                                       "free",
                                                       1,
                                                       {fakePointer(0x3)},
                                                       "/FreeHooker/free/after",
                                                       {"all", "free"}},
                                           PublishCase{"AfterWithoutArguments",
                                                       "GlobalRefHooker",
                                                       true,
                                                       "NewGlobalRef",
                                                       0,
                                                       {},
                                                       "/GlobalRefHooker/NewGlobalRef/after",
                                                       {"all", "NewGlobalRef"}},
                                           PublishCase{"NegativeCountReadsNothing",
                                                       "GlobalRefHooker",
                                                       true,
                                                       "DeleteGlobalRef",
                                                       -1,
                                                       {},
                                                       "/GlobalRefHooker/DeleteGlobalRef/after",
                                                       {"all"}},
                                           PublishCase{"SlashInFunctionNameAddsSegments",
                                                       "CheckJNIHooker",
                                                       true,
                                                       "a/b",
                                                       0,
                                                       {},
                                                       "/CheckJNIHooker/a/b/after",
                                                       {"all", "checkA"}},
                                           PublishCase{"LeadingBlankOfFunctionNameDropped",
                                                       "MallocHooker",
                                                       false,
                                                       " malloc",
                                                       0,
                                                       {},
                                                       "/MallocHooker/malloc/before",
                                                       {"all", "MallocHooker", "malloc"}},
                                           PublishCase{"TrailingBlankOfFunctionNameKept",
                                                       "MallocHooker",
                                                       false,
                                                       "malloc ",
                                                       0,
                                                       {},
                                                       "/MallocHooker/malloc /before",
                                                       {"all", "MallocHooker"}}),
                         [](const ::testing::TestParamInfo<PublishCase>& info) {
                           return info.param.name;
                         });

TEST_F(MonitorBusTest, TalkMessageHandsTheSameMessageToEverySubscriber) {
  RecordingTracker t1("t1", deliveries, {"/"}, monitor);
  RecordingTracker t2("t2", deliveries, {"/Hooker/x"}, monitor);
  t1.onInit();
  t2.onInit();
  TestHooker hooker("Hooker", monitor);
  _FunctionParam param;
  param.paramCount = 3;

  hooker.talkMessage(" x/y/ ", param);

  ASSERT_EQ(deliveries.size(), 2u);
  for (const Delivery& d : deliveries) {
    EXPECT_EQ(d.topic, "/Hooker/x/y");
    EXPECT_EQ(d.param, &param);
  }
}

TEST_F(MonitorBusTest, TrackerSubscribesToEachOfItsTopicsAndSkipsRefusedOnesSilently) {
  testvm::TestVm& vm = testvm::TestVm::processVm();
  vm.clearRecordings();
  LogCapture cap;
  RecordingTracker tracker("t", deliveries, {"/MallocHooker", "malloc", "", "/MallocHooker/malloc"},
                           monitor);
  tracker.onInit();
  EXPECT_TRUE(cap.lines().empty());
  EXPECT_TRUE(vm.hostLog().empty());

  TestHooker hooker("MallocHooker", monitor);
  hooker.talkAfterOriginFuncCalled("malloc", nullptr, nullptr, 0);
  hooker.talkAfterOriginFuncCalled("free", nullptr, nullptr, 0);
  Names topics;
  for (const Delivery& d : deliveries) {
    topics.push_back(d.topic);
  }
  // Once per matching node.
  EXPECT_EQ(topics, (Names{"/MallocHooker/malloc/after", "/MallocHooker/malloc/after",
                           "/MallocHooker/free/after"}));
}

TEST_F(MonitorBusTest, TrackerWithoutTopicsHearsNothing) {
  RecordingTracker tracker("t", deliveries, {}, monitor);
  tracker.onInit();
  TestHooker hooker("MallocHooker", monitor);
  hooker.talkBeforeOriginFuncCalled("malloc", nullptr, 0);
  EXPECT_TRUE(deliveries.empty());
}

TEST_F(MonitorBusTest, SubscribingTwiceDeliversTwice) {
  RecordingTracker tracker("t", deliveries, {"/MallocHooker"}, monitor);
  tracker.onInit();
  tracker.onInit();
  TestHooker hooker("MallocHooker", monitor);
  hooker.talkBeforeOriginFuncCalled("malloc", nullptr, 0);
  EXPECT_EQ(deliveries.size(), 2u);
}

}  // namespace
