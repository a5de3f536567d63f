#include "core/Eventer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <latch>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zorvid {
namespace {

using namespace std::chrono_literals;

class TIntEventer final : public TTypedEventer<int> {};

// A subscriber whose reaction to an event is set per test; it records every call.
struct TSubscriber {
  explicit TSubscriber(std::string subscriberName = "", std::vector<std::string>* log = nullptr)
      : name(std::move(subscriberName)), journal(log) {}

  std::string name;
  std::vector<std::string>* journal = nullptr;
  std::function<void(int)> reaction;
  std::atomic<int> calls{0};
  std::atomic<int> inside{0};
  std::atomic<int> mostInside{0};

  void OnEvent(int value) {
    const int now = ++inside;
    if (now > mostInside) mostInside = now;
    ++calls;
    if (journal) journal->push_back(name + ":" + std::to_string(value));
    if (reaction) reaction(value);
    --inside;
  }
  TIntEventer::THandlerType Handler() { return {this, &TSubscriber::OnEvent}; }
};

class EventerTest : public ::testing::Test {
 protected:
  void Subscribe(std::initializer_list<TSubscriber*> subscribers) {
    for (TSubscriber* subscriber : subscribers)
      eventer.Add(subscriber->Handler());
  }

  TIntEventer eventer;
  std::vector<std::string> journal;  // filled by the subscribers made with it
};

TEST_F(EventerTest, CallsEachSubscriberOnceInOrder) {
  TSubscriber a{"a", &journal}, b{"b", &journal};
  Subscribe({&a, &b, &a});  // the second a: already subscribed
  eventer.Fire(7);
  EXPECT_EQ(journal, (std::vector<std::string>{"a:7", "b:7"}));

  eventer.Remove(a.Handler());
  eventer.Remove(a.Handler());  // not subscribed any more: nothing happens
  eventer.Fire(8);
  EXPECT_EQ(journal, (std::vector<std::string>{"a:7", "b:7", "b:8"}));
  EXPECT_FALSE(eventer.IsFiring());
}

TEST_F(EventerTest, HandlersAreTheSameByFunctionAndContext) {
  TSubscriber a{"a"}, b{"b"};
  EXPECT_EQ(a.Handler(), a.Handler());
  EXPECT_NE(a.Handler(), b.Handler());
  auto plain = +[](TSubscriber* s, int value) { s->OnEvent(value); };
  EXPECT_NE(TIntEventer::THandlerType(&a, plain), a.Handler());

  eventer.Add({&a, plain});
  eventer.Add(a.Handler());
  eventer.Fire(1);
  EXPECT_EQ(a.calls, 2) << "a plain function and a method on one context are two handlers";
}

TEST_F(EventerTest, ChangesDuringAFire) {
  TSubscriber self{"self", &journal}, late{"late", &journal}, failing{"failing", &journal},
      last{"last", &journal};
  self.reaction = [&](int) {
    eventer.Remove(self.Handler());  // unsubscribes itself while being called
    eventer.Add(late.Handler());     // appended beyond the current position
  };
  failing.reaction = [](int) { throw std::runtime_error("handler failed"); };
  Subscribe({&self, &failing, &last});

  eventer.Fire(1);
  EXPECT_EQ(journal, (std::vector<std::string>{"self:1", "failing:1", "last:1", "late:1"}));

  journal.clear();
  eventer.Fire(2);
  EXPECT_EQ(journal, (std::vector<std::string>{"failing:2", "last:2", "late:2"}));

  // Re-subscribing after the removal gives exactly one subscription again.
  eventer.Add(self.Handler());
  self.reaction = nullptr;
  journal.clear();
  eventer.Fire(3);
  EXPECT_EQ(journal, (std::vector<std::string>{"failing:3", "last:3", "late:3", "self:3"}));
}

TEST_F(EventerTest, ClearDuringAFireStopsTheRest) {
  TSubscriber first{"first"}, second{"second"};
  first.reaction = [&](int) { eventer.Clear(); };
  Subscribe({&first, &second});
  eventer.Fire(1);
  eventer.Fire(2);
  EXPECT_EQ(first.calls, 1);
  EXPECT_EQ(second.calls, 0);
}

// A handler that fires its own eventer on the same thread: the nested fire skips the handler
// its thread is inside (no re-entry, no wait on itself) and calls the others.
TEST_F(EventerTest, NestedFireOnTheSameThreadDoesNotHang) {
  TSubscriber before{"before", &journal}, outer{"outer", &journal}, after{"after", &journal};
  outer.reaction = [&](int value) {
    if (value == 1) eventer.Fire(2);
  };
  Subscribe({&before, &outer, &after});
  eventer.Fire(1);
  EXPECT_EQ(journal,
            (std::vector<std::string>{"before:1", "outer:1", "before:2", "after:2", "after:1"}));
  EXPECT_EQ(outer.mostInside, 1);
  EXPECT_FALSE(eventer.IsFiring());
}

TEST_F(EventerTest, ShutdownStopsFireAndAdd) {
  TSubscriber a{"a"}, b{"b"};
  eventer.Add(a.Handler());
  eventer.Shutdown();
  eventer.Add(b.Handler());
  eventer.Fire(1);
  EXPECT_EQ(a.calls + b.calls, 0);
}

TEST_F(EventerTest, InterfaceArgumentLivesThroughTheFire) {
  struct TProbe final : TMyInterfacedObject {
    bool* destroyed;
    explicit TProbe(bool* flag) : destroyed(flag) {}
    ~TProbe() override { *destroyed = true; }
  };
  bool destroyed = false;
  bool aliveDuringCall = false;
  TeventerDescentEvent descentEventer;
  auto check =
      +[](bool* alive, TRef<IInterface> node, std::int32_t level) { *alive = node && level == 3; };
  descentEventer.Add({&aliveDuringCall, check});
  descentEventer.Fire(New<TProbe>(&destroyed), 3);
  EXPECT_TRUE(aliveDuringCall);
  EXPECT_TRUE(destroyed) << "the fire must drop its reference afterwards";
}

// Two threads fire at once: each handler runs twice, never on both threads at the same time.
TEST_F(EventerTest, TwoThreadsFiring) {
  std::vector<TSubscriber> subscribers(4);
  for (auto& subscriber : subscribers) {
    subscriber.reaction = [](int) { std::this_thread::sleep_for(2ms); };
    eventer.Add(subscriber.Handler());
  }
  std::latch start(2);
  auto fire = [&] {
    start.arrive_and_wait();
    eventer.Fire(1);
  };
  std::thread first(fire), second(fire);
  first.join();
  second.join();
  for (const auto& subscriber : subscribers) {
    EXPECT_EQ(subscriber.calls, 2);
    EXPECT_EQ(subscriber.mostInside, 1);
  }
}

// Another thread removes a handler while a fire is inside an earlier one: the running fire
// does not call it, and Remove returns without waiting for the fire.
TEST_F(EventerTest, RemoveDuringAFireOnAnotherThread) {
  TSubscriber blocking{"blocking"}, removed{"removed"}, kept{"kept"};
  std::latch entered(1), released(1);
  blocking.reaction = [&](int) {
    entered.count_down();
    released.wait();
  };
  Subscribe({&blocking, &removed, &kept});

  std::thread firing([&] { eventer.Fire(1); });
  entered.wait();
  EXPECT_TRUE(eventer.IsFiring());
  eventer.Remove(removed.Handler());
  released.count_down();
  firing.join();

  EXPECT_EQ(removed.calls, 0);
  EXPECT_EQ(kept.calls, 1);
  eventer.Fire(2);
  EXPECT_EQ(removed.calls, 0);
  EXPECT_EQ(blocking.calls, 2);
}

}  // namespace
}  // namespace zorvid
