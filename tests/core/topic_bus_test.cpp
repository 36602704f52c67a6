#include "core/topic_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "actor.h"
#include "bus_fixtures.h"

namespace {

using Names = std::vector<std::string>;

Names receivers(const std::vector<Delivery>& deliveries) {
  Names names;
  for (const Delivery& delivery : deliveries) {
    names.push_back(delivery.tracker);
  }
  return names;
}

struct DispatchCase {
  std::string name;
  std::vector<std::pair<std::string, std::string>> subscriptions;  // tracker, topic
  std::string hooker;
  std::string localTopic;
  std::string fullTopic;
  Names receivers;  // in the order they are handed the message
};

void PrintTo(const DispatchCase& c, std::ostream* os) { *os << c.name; }

class DispatchTest : public ::testing::TestWithParam<DispatchCase> {
 protected:
  std::shared_ptr<TreeNode> root = std::make_shared<TreeNode>("");
  WfirstRWLock lock;
  std::vector<Delivery> deliveries;
  std::map<std::string, std::unique_ptr<RecordingTracker>> trackers;
};

TEST_P(DispatchTest, HandsTheMessageToEveryTrackerOnItsPath) {
  const DispatchCase& c = GetParam();
  for (const auto& [trackerName, topic] : c.subscriptions) {
    auto& tracker = trackers[trackerName];
    if (!tracker) {
      tracker = std::make_unique<RecordingTracker>(trackerName, deliveries);
    }
    subscribeOnTree(root, lock, topic, tracker.get());
  }
  TestHooker hooker(c.hooker);
  _FunctionParam param;

  talkOnTree(root, lock, &hooker, c.localTopic, param);

  EXPECT_EQ(receivers(deliveries), c.receivers);
  for (const Delivery& delivery : deliveries) {
    EXPECT_EQ(delivery.topic, c.fullTopic) << delivery.tracker;
    EXPECT_EQ(delivery.param, &param) << delivery.tracker;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Topics, DispatchTest,
    ::testing::Values(
        DispatchCase{"RootSeesEverything",
                     {{"all", "/"}},
                     "MallocHooker",
                     "malloc/after",
                     "/MallocHooker/malloc/after",
                     {"all"}},
        DispatchCase{"RootFirstThenDownThePathOnly",
                     {{"b", "/N/A/B"},
                      {"below", "/N/A/B/C"},
                      {"a", "/N/A"},
                      {"other", "/M"},
                      {"sibling", "/N/X"},
                      {"n", "/N"},
                      {"all", "/"}},
                     "N",
                     "A/B",
                     "/N/A/B",
                     {"all", "n", "a", "b"}},
        DispatchCase{"SubscriptionOrderAndRepeatsWithinANode",
                     {{"t1", "/N"}, {"t2", "/N"}, {"t1", "/N"}},
                     "N",
                     "x",
                     "/N/x",
                     {"t1", "t2", "t1"}},
        DispatchCase{"OncePerMatchingNode",
                     {{"t", "/MallocHooker"}, {"t", "/MallocHooker/malloc"}},
                     "MallocHooker",
                     "malloc/after",
                     "/MallocHooker/malloc/after",
                     {"t", "t"}},
        DispatchCase{"SubscriptionTopicNormalised",
                     {{"t", " /N/A/ "}, {"u", "/N/A///"}},
                     "N",
                     "A/x",
                     "/N/A/x",
                     {"t", "u"}},
        DispatchCase{"RefusedSubscriptions",
                     {{"relative", "N/A"}, {"slashes", "//"}, {"empty", ""}, {"blank", " \t"}},
                     "N",
                     "A",
                     "/N/A",
                     {}},
        DispatchCase{"StopsWhereThePathLeavesTheTree",
                     {{"all", "/"}, {"n", "/N"}, {"a", "/N/A"}, {"bx", "/N/B/x/y"}},
                     "N",
                     "C/x",
                     "/N/C/x",
                     {"all", "n"}},
        DispatchCase{"SegmentsMatchExactly",
                     {{"all", "/"}, {"lower", "/n"}, {"spaced", "/N /x"}},
                     "N",
                     "x",
                     "/N/x",
                     {"all"}},
        DispatchCase{"LocalTopicTrimmedAtBothEnds",
                     {{"m", "/MallocHooker/malloc"}},
                     "MallocHooker",
                     " \tmalloc/before\n",
                     "/MallocHooker/malloc/before",
                     {"m"}},
        DispatchCase{"BlankInsideTheLocalTopicIsPartOfTheSegment",
                     {{"m", "/MallocHooker/malloc"}, {"h", "/MallocHooker"}},
                     "MallocHooker",
                     "malloc /before",
                     "/MallocHooker/malloc /before",
                     {"h"}},
        DispatchCase{
            "TrailingSlashesOfTheLocalTopicDropped", {{"x", "/N/x"}}, "N", "x//", "/N/x", {"x"}},
        DispatchCase{"EmptyLocalTopic", {{"all", "/"}, {"n", "/N"}}, "N", "", "/N/", {"all", "n"}},
        // A local topic of exactly "/" survives normalisation; its empty last
        // segment names a child of /N, and the root is not visited again.
        DispatchCase{"RootTopicAsLocalTopicVisitsTheRootOnce",
                     {{"all", "/"}, {"n", "/N"}},
                     "N",
                     "/",
                     "/N//",
                     {"all", "n"}},
        // An empty segment is an ordinary segment on both sides of the bus, and
        // a message never leaks into another namespace's subtree.
        DispatchCase{"EmptySegmentStaysInsideItsNamespace",
                     {{"all", "/"}, {"empty", "/N/a//b"}, {"b", "/b"}},
                     "N",
                     "a//b",
                     "/N/a//b",
                     {"all", "empty"}},
        DispatchCase{"EmptyNamespace",
                     {{"all", "/"}, {"unnamed", "//x"}, {"x", "/x"}},
                     "",
                     "x",
                     "//x",
                     {"all", "unnamed"}},
        DispatchCase{"NobodySubscribed", {}, "N", "x", "/N/x", {}}),
    [](const ::testing::TestParamInfo<DispatchCase>& info) { return info.param.name; });

class TopicTreeTest : public ::testing::Test {
 protected:
  std::shared_ptr<TreeNode> root = std::make_shared<TreeNode>("");
  WfirstRWLock lock;
  std::vector<Delivery> deliveries;
  RecordingTracker t1{"t1", deliveries};
  RecordingTracker t2{"t2", deliveries};
};

TEST_F(TopicTreeTest, SubscriptionsShareNodesAndLinkEachToItsParent) {
  subscribeOnTree(root, lock, " /A/B/ ", &t1);
  subscribeOnTree(root, lock, "/A/B", &t2);
  subscribeOnTree(root, lock, "/A//B", &t1);
  subscribeOnTree(root, lock, "/", &t2);

  ASSERT_EQ(root->children.size(), 1u);
  const std::shared_ptr<TreeNode> a = root->children.at("A");
  EXPECT_EQ(a->name, "A");
  EXPECT_EQ(a->parent.lock(), root);
  ASSERT_EQ(a->children.size(), 2u);
  const std::shared_ptr<TreeNode> b = a->children.at("B");
  const std::shared_ptr<TreeNode> empty = a->children.at("");
  EXPECT_EQ(b->parent.lock(), a);
  EXPECT_EQ(b->trackers, (std::list<BaseTracker*>{&t1, &t2}));
  EXPECT_TRUE(empty->trackers.empty());
  EXPECT_EQ(empty->children.at("B")->trackers, (std::list<BaseTracker*>{&t1}));
  EXPECT_EQ(root->trackers, (std::list<BaseTracker*>{&t2}));
  EXPECT_TRUE(a->trackers.empty());
  EXPECT_TRUE(root->parent.expired());
}

TEST_F(TopicTreeTest, TreeIsFreedWithItsRoot) {
  subscribeOnTree(root, lock, "/A/B/C", &t1);
  const std::weak_ptr<TreeNode> leaf = root->children.at("A")->children.at("B")->children.at("C");
  root.reset();
  EXPECT_TRUE(leaf.expired());
}

TEST_F(TopicTreeTest, NothingHappensWithoutARootOrWithoutATrackerOrHooker) {
  std::shared_ptr<TreeNode> none;
  subscribeOnTree(none, lock, "/", &t1);
  EXPECT_EQ(none, nullptr);

  subscribeOnTree(root, lock, "/A", nullptr);
  EXPECT_TRUE(root->children.empty());

  subscribeOnTree(root, lock, "/", &t1);
  TestHooker hooker("N");
  _FunctionParam param;
  talkOnTree(none, lock, &hooker, "x", param);
  talkOnTree(root, lock, nullptr, "x", param);
  EXPECT_TRUE(deliveries.empty());

  talkOnTree(root, lock, &hooker, "x", param);  // the lock was left free
  EXPECT_EQ(receivers(deliveries), Names{"t1"});
}

class RenamedHooker final : public BaseHooker {
 public:
  RenamedHooker() : BaseHooker("RenamedHooker", nullptr) {}
  void onInit(int, ...) override {}
  std::string getTalkTopicNamespace() override { return "Elsewhere"; }
};

TEST_F(TopicTreeTest, PublishesUnderTheNamespaceTheHookerGives) {
  subscribeOnTree(root, lock, "/RenamedHooker", &t1);
  subscribeOnTree(root, lock, "/Elsewhere", &t2);
  RenamedHooker hooker;
  _FunctionParam param;
  talkOnTree(root, lock, &hooker, "f/after", param);
  ASSERT_EQ(receivers(deliveries), Names{"t2"});
  EXPECT_EQ(deliveries[0].topic, "/Elsewhere/f/after");
}

// Holds every publication inside its onMessage until `leave` opens.
class HoldingTracker final : public BaseTracker {
 public:
  HoldingTracker(Journal& journal, Gate& leave)
      : BaseTracker("HoldingTracker", nullptr), journal(journal), leave(leave) {}
  void onMessage(std::string topic, _FunctionParam&) override {
    journal.add("in " + topic);
    leave.wait();
    journal.add("out " + topic);
  }
  std::vector<std::string> topicToSubscribe() override { return {}; }

 private:
  Journal& journal;
  Gate& leave;
};

class LateTracker final : public BaseTracker {
 public:
  explicit LateTracker(Journal& journal) : BaseTracker("LateTracker", nullptr), journal(journal) {}
  void onMessage(std::string topic, _FunctionParam&) override { journal.add("late " + topic); }
  std::vector<std::string> topicToSubscribe() override { return {}; }

 private:
  Journal& journal;
};

TEST(TopicBusConcurrencyTest, SubscriptionWaitsForWalksInProgressAndHoldsBackNewOnes) {
  std::shared_ptr<TreeNode> root = std::make_shared<TreeNode>("");
  WfirstRWLock lock;
  Journal journal;
  TestHooker hooker("N");
  Stage stage;
  Gate& leave = stage.gate();
  HoldingTracker holding(journal, leave);
  LateTracker late(journal);
  subscribeOnTree(root, lock, "/N", &holding);

  auto publish = [&](const std::string& topic) {
    return [&, topic] {
      _FunctionParam param;
      talkOnTree(root, lock, &hooker, topic, param);
    };
  };
  stage.actor(publish("p1"));
  stage.actor(publish("p2"));
  // Both walks are inside a tracker at the same time.
  ASSERT_TRUE(
      waitUntil([&] { return journal.contains("in /N/p1") && journal.contains("in /N/p2"); }));

  Actor& subscriber = stage.actor([&] {
    subscribeOnTree(root, lock, "/N/p3", &late);
    journal.add("subscribed");
  });
  ASSERT_TRUE(subscriber.waitUntilBlocked());
  Actor& third = stage.actor(publish("p3"));
  ASSERT_TRUE(third.waitUntilBlocked());
  EXPECT_FALSE(journal.contains("in /N/p3"));
  EXPECT_FALSE(journal.contains("subscribed"));

  leave.open();
  ASSERT_TRUE(subscriber.waitUntilFinished());
  ASSERT_TRUE(third.waitUntilFinished());

  const std::vector<std::string> events = journal.events();
  auto at = [&](const std::string& event) {
    return std::find(events.begin(), events.end(), event) - events.begin();
  };
  // The third walk ran after the subscription: it reached the new tracker.
  EXPECT_LT(at("late /N/p3"), static_cast<long>(events.size()));
  EXPECT_LT(at("in /N/p3"), at("late /N/p3"));
  EXPECT_LT(at("out /N/p1"), at("subscribed"));
  EXPECT_LT(at("out /N/p2"), at("subscribed"));
  EXPECT_EQ(events.size(), 8u);
}

}  // namespace
