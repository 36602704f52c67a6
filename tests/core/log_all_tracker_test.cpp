#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bus_fixtures.h"
#include "core/LogAllTracker.h"
#include "core/topic_bus.h"

namespace {

std::vector<std::string> topicsOf(const std::vector<Delivery>& deliveries) {
  std::vector<std::string> topics;
  for (const Delivery& delivery : deliveries) {
    topics.push_back(delivery.topic);
  }
  return topics;
}

// The LogAllTracker's subscriptions, made on a tree the way the monitor makes
// them, beside a recording tracker subscribed to the same topics.
TEST(LogAllTrackerTest, SubscribesOnceAtTheRootAndSoHearsEveryMessageOnce) {
  auto root = std::make_shared<TreeNode>("");
  WfirstRWLock lock;
  std::vector<Delivery> deliveries;
  LogAllTracker logAll(nullptr);
  const std::vector<std::string> topics = logAll.topicToSubscribe();
  ASSERT_EQ(topics, std::vector<std::string>{"/"});
  RecordingTracker twin("twin", deliveries);
  for (const std::string& topic : topics) {
    subscribeOnTree(root, lock, topic, &logAll);
    subscribeOnTree(root, lock, topic, &twin);
  }
  EXPECT_EQ(root->trackers, (std::list<BaseTracker*>{&logAll, &twin}));
  EXPECT_TRUE(root->children.empty());

  // Other subscriptions grow the tree below the root; the root still hears
  // each message once, whatever its topic.
  std::vector<Delivery> elsewhere;
  RecordingTracker deep("deep", elsewhere);
  subscribeOnTree(root, lock, "/MallocHooker/malloc", &deep);
  subscribeOnTree(root, lock, "/CheckJNIHooker//x", &deep);
  const std::vector<std::pair<std::string, std::string>> messages{
      {"MallocHooker", "malloc/after"}, {"MallocHooker", "/"}, {"CheckJNIHooker", "a//x"},
      {"CheckJNIHooker", "/x/before"},  {"FreeHooker", ""},    {"", "MallocHooker/malloc"}};
  for (const auto& [hookerName, topic] : messages) {
    TestHooker hooker(hookerName);
    _FunctionParam param;
    talkOnTree(root, lock, &hooker, topic, param);
  }
  EXPECT_EQ(topicsOf(elsewhere),
            (std::vector<std::string>{"/MallocHooker/malloc/after", "/CheckJNIHooker//x/before"}));
  EXPECT_EQ(topicsOf(deliveries),
            (std::vector<std::string>{"/MallocHooker/malloc/after", "/MallocHooker//",
                                      "/CheckJNIHooker/a//x", "/CheckJNIHooker//x/before",
                                      "/FreeHooker/", "//MallocHooker/malloc"}));
}

}  // namespace
