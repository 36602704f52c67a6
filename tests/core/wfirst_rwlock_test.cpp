// The writer-first rules, shown with real threads. Every step waits for the
// state it needs (an actor asleep in the lock, an event in the journal), so the
// outcome never depends on how the threads are scheduled.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "actor.h"
#include "core/WfirstRWLock.h"

namespace {

using Events = std::vector<std::string>;

class WfirstRWLockTest : public ::testing::Test {
 protected:
  // A reader that records when it gets in and holds the lock until `leave` opens.
  Actor& reader(const std::string& who, Gate& leave) {
    return stage.actor([this, who, &leave] {
      lock.lock_read();
      journal.add(who);
      leave.wait();
      lock.release_read();
    });
  }

  Actor& writer(const std::string& who, Gate& leave) {
    return stage.actor([this, who, &leave] {
      lock.lock_write();
      journal.add(who);
      leave.wait();
      lock.release_write();
    });
  }

  bool entered(const std::string& who) {
    return waitUntil([&] { return journal.contains(who); });
  }

  WfirstRWLock lock;
  Journal journal;
  Stage stage;
};

TEST_F(WfirstRWLockTest, ReadersHoldTheLockTogetherWhenNoWriterComes) {
  // No reader leaves before all four are inside.
  Gate& leave = stage.gate();
  const Events readers{"r1", "r2", "r3", "r4"};
  for (const std::string& who : readers) {
    reader(who, leave);
  }
  for (const std::string& who : readers) {
    EXPECT_TRUE(entered(who)) << who;
  }
  leave.open();
}

TEST_F(WfirstRWLockTest, QueuedWriterShutsOutNewReadersUntilItIsDone) {
  Gate& leaveR1 = stage.gate();
  Gate& leaveR2 = stage.gate();
  Gate& leaveW = stage.gate();
  Gate& leaveR3 = stage.gate();
  Actor& r1 = reader("r1", leaveR1);
  ASSERT_TRUE(entered("r1"));
  reader("r2", leaveR2);
  ASSERT_TRUE(entered("r2"));

  Actor& w = writer("w", leaveW);
  ASSERT_TRUE(w.waitUntilBlocked());
  EXPECT_FALSE(journal.contains("w"));

  // Only readers hold the lock, yet a reader arriving now must wait.
  Actor& r3 = reader("r3", leaveR3);
  ASSERT_TRUE(r3.waitUntilBlocked());
  EXPECT_FALSE(journal.contains("r3"));

  leaveR1.open();
  ASSERT_TRUE(r1.waitUntilFinished());
  EXPECT_TRUE(w.waitUntilBlocked()) << "the writer got in while a reader was inside";
  EXPECT_FALSE(journal.contains("w"));

  leaveR2.open();  // the last reader out lets the writer in
  ASSERT_TRUE(entered("w"));
  EXPECT_TRUE(r3.waitUntilBlocked());
  EXPECT_FALSE(journal.contains("r3"));

  leaveW.open();  // no other writer is queued: the waiting reader goes in
  ASSERT_TRUE(entered("r3"));
  leaveR3.open();
  EXPECT_TRUE(r3.waitUntilFinished());
  EXPECT_EQ(journal.events(), (Events{"r1", "r2", "w", "r3"}));
}

TEST_F(WfirstRWLockTest, QueuedWritersAllGoBeforeWaitingReadersWhoThenEnterTogether) {
  Gate& leaveW1 = stage.gate();
  writer("w1", leaveW1);
  ASSERT_TRUE(entered("w1"));

  Gate& leaveW2 = stage.gate();
  Gate& leaveW3 = stage.gate();
  Actor& w2 = writer("w2", leaveW2);
  Actor& w3 = writer("w3", leaveW3);
  ASSERT_TRUE(w2.waitUntilBlocked());
  ASSERT_TRUE(w3.waitUntilBlocked());

  // Two readers that stay inside until both are: they can only finish if
  // they are let in together.
  Gate& leaveReaders = stage.gate();
  Actor& ra = reader("ra", leaveReaders);
  Actor& rb = reader("rb", leaveReaders);
  ASSERT_TRUE(ra.waitUntilBlocked());
  ASSERT_TRUE(rb.waitUntilBlocked());

  leaveW1.open();
  ASSERT_TRUE(waitUntil([&] { return journal.contains("w2") || journal.contains("w3"); }));
  // Which queued writer goes first is the condition variable's choice.
  const bool w2First = journal.contains("w2");
  EXPECT_TRUE((w2First ? w3 : w2).waitUntilBlocked());
  EXPECT_TRUE(ra.waitUntilBlocked());
  EXPECT_TRUE(rb.waitUntilBlocked());
  EXPECT_EQ(journal.events().size(), 2u);

  (w2First ? leaveW2 : leaveW3).open();
  ASSERT_TRUE(entered(w2First ? "w3" : "w2"));
  EXPECT_TRUE(ra.waitUntilBlocked());
  EXPECT_TRUE(rb.waitUntilBlocked());
  EXPECT_EQ(journal.events().size(), 3u);

  (w2First ? leaveW3 : leaveW2).open();
  ASSERT_TRUE(entered("ra"));
  ASSERT_TRUE(entered("rb"));
  leaveReaders.open();
  EXPECT_TRUE(ra.waitUntilFinished());
  EXPECT_TRUE(rb.waitUntilFinished());
  const Events events = journal.events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(Events(events.begin(), events.begin() + 3),
            (w2First ? Events{"w1", "w2", "w3"} : Events{"w1", "w3", "w2"}));
}

// Both guards, each left through an exception.
template <typename Guard>
class GuardTest : public WfirstRWLockTest {};

using Guards = ::testing::Types<UniqueReadguard<WfirstRWLock>, UniqueWriteguard<WfirstRWLock>>;
TYPED_TEST_SUITE(GuardTest, Guards);

TYPED_TEST(GuardTest, HoldsForItsScopeAndReleasesOnceWhenLeftByException) {
  Gate& leave = this->stage.gate();
  Actor* w = nullptr;
  try {
    TypeParam guard(this->lock);
    w = &this->writer("w", leave);
    ASSERT_TRUE(w->waitUntilBlocked());
    EXPECT_FALSE(this->journal.contains("w"));
    throw std::runtime_error("leaving the scope");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(this->entered("w"));
  leave.open();
  ASSERT_TRUE(w->waitUntilFinished());

  // A second release would have broken the counts, and the lock would now
  // refuse readers or writers for good.
  Actor& after = this->stage.actor([this] {
    { UniqueReadguard<WfirstRWLock> read(this->lock); }
    { UniqueWriteguard<WfirstRWLock> write(this->lock); }
    { UniqueReadguard<WfirstRWLock> read(this->lock); }
  });
  EXPECT_TRUE(after.waitUntilFinished());
}

}  // namespace
