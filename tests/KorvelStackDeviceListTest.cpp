#include "protocol/KorvelStackDeviceList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/KorvelStackDevice.h"

namespace zorvid {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::UnorderedElementsAreArray;

std::atomic<int> destroyedDevices{0};

class TCountedDevice : public TKorvelStackDevice {
 public:
  explicit TCountedDevice(TByte address) : TKorvelStackDevice(address) {}
  ~TCountedDevice() override { ++destroyedDevices; }
};

using TIdentities = std::vector<const IInterface*>;

TIdentities IdentitiesOf(const TInterfaceList& list) {
  TIdentities identities;
  for (const auto& entry : list)
    identities.push_back(Identity(entry.Get()));
  return identities;
}

const IInterface* IdOf(const TRef<TCountedDevice>& device) {
  return Identity(device.Get());
}

class KorvelStackDeviceListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartDeviceList();
    eventer_ = KorvelDeviceListChanged();
    ASSERT_TRUE(eventer_);
    eventer_->Add(Handler());
  }
  void TearDown() override {
    eventer_->Remove(Handler());
    StopDeviceList();
  }

  TevnterKorvelDeviceListChanged::THandlerType Handler() {
    return {this, &KorvelStackDeviceListTest::OnChanged};
  }
  // Runs on the thread that changed the list.
  void OnChanged(TKorvelDeviceList list) {
    std::lock_guard guard(mutex_);
    events_.push_back(IdentitiesOf(*list));
    if (keepSnapshots_) kept_.push_back(list);
  }
  std::vector<TIdentities> Events() {
    std::lock_guard guard(mutex_);
    return events_;
  }
  void ClearEvents() {
    std::lock_guard guard(mutex_);
    events_.clear();
  }
  // Hands over the snapshots kept so far.
  std::vector<TKorvelDeviceList> TakeKept() {
    std::lock_guard guard(mutex_);
    return std::exchange(kept_, {});
  }

  std::shared_ptr<TevnterKorvelDeviceListChanged> eventer_;
  std::mutex mutex_;
  std::vector<TIdentities> events_;      // guarded by mutex_
  bool keepSnapshots_ = false;           // set before any device exists
  std::vector<TKorvelDeviceList> kept_;  // guarded by mutex_
};

TEST_F(KorvelStackDeviceListTest, EachCreationFiresTheWholeListInCreationOrder) {
  const auto first = New<TCountedDevice>(TByte{1});
  const auto second = New<TCountedDevice>(TByte{2});
  EXPECT_THAT(Events(),
              ElementsAre(ElementsAre(IdOf(first)), ElementsAre(IdOf(first), IdOf(second))));
  const TKorvelDeviceList current = KorvelDevices();
  ASSERT_THAT(*current, SizeIs(2));
  for (const auto& entry : *current)
    EXPECT_TRUE(Supports<IKorvelStackDevice>(entry));
}

TEST_F(KorvelStackDeviceListTest, DestroyedDeviceLeavesTheListWhichNeverOwnedIt) {
  auto first = New<TCountedDevice>(TByte{1});
  auto second = New<TCountedDevice>(TByte{2});
  const IInterface* secondId = IdOf(second);
  ClearEvents();
  const int destroyedBefore = destroyedDevices;

  first.Reset();
  EXPECT_EQ(destroyedDevices, destroyedBefore + 1);
  EXPECT_THAT(Events(), ElementsAre(ElementsAre(secondId)));
  EXPECT_THAT(IdentitiesOf(*KorvelDevices()), ElementsAre(secondId));
  second.Reset();
  EXPECT_THAT(Events(), ElementsAre(ElementsAre(secondId), IsEmpty()));
}

TEST_F(KorvelStackDeviceListTest, KeptSnapshotKeepsItsContent) {
  keepSnapshots_ = true;
  auto first = New<TCountedDevice>(TByte{1});
  const IInterface* firstId = IdOf(first);
  const int destroyedBefore = destroyedDevices;
  TKorvelDeviceList snapshot = TakeKept().at(0);
  auto second = New<TCountedDevice>(TByte{2});
  first.Reset();
  EXPECT_THAT(IdentitiesOf(*snapshot), ElementsAre(firstId));
  EXPECT_EQ(destroyedDevices, destroyedBefore) << "the snapshot holds a counted reference";

  // Letting go of the snapshots destroys the first device, which fires again.
  keepSnapshots_ = false;
  snapshot.reset();
  TakeKept().clear();
  EXPECT_EQ(destroyedDevices, destroyedBefore + 1);
}

TEST_F(KorvelStackDeviceListTest, StoppedListFollowsNothing) {
  StopDeviceList();
  EXPECT_EQ(GetKorvelDeviceCreatedHook(), nullptr);
  EXPECT_EQ(GetKorvelDeviceDestroyedHook(), nullptr);
  EXPECT_FALSE(KorvelDeviceListChanged());
  const auto device = New<TCountedDevice>(TByte{1});
  EXPECT_THAT(*KorvelDevices(), IsEmpty());
  EXPECT_THAT(Events(), IsEmpty());

  StartDeviceList();
  EXPECT_THAT(*KorvelDevices(), IsEmpty()) << "a device made before start-up is not listed";
}

TEST_F(KorvelStackDeviceListTest, HandlerMayCreateAndReleaseDevicesOnItsOwnThread) {
  struct TNestingHandler {
    void OnChanged(TKorvelDeviceList list) {
      if (list->size() == 1 && !nested.exchange(true)) New<TCountedDevice>(TByte{9});
    }
    std::atomic<bool> nested{false};
  } nesting;
  const TevnterKorvelDeviceListChanged::THandlerType handler(&nesting, &TNestingHandler::OnChanged);
  eventer_->Add(handler);
  const auto device = New<TCountedDevice>(TByte{1});
  eventer_->Remove(handler);
  EXPECT_TRUE(nesting.nested);
  EXPECT_THAT(IdentitiesOf(*KorvelDevices()), ElementsAre(IdOf(device)));
}

// Plain devices: one of a derived class is listed before its derived part is built, so only its
// own thread may use it until then.
TEST_F(KorvelStackDeviceListTest, DevicesMadeOnManyThreadsAreAllListed) {
  constexpr int kThreads = 4, kPerThread = 25;
  std::vector<std::vector<TRef<TKorvelStackDevice>>> made(kThreads);
  std::vector<std::jthread> threads;
  for (auto& devices : made)
    threads.emplace_back([&devices] {
      for (int i = 0; i < kPerThread; ++i)
        devices.push_back(New<TKorvelStackDevice>(static_cast<TByte>(i)));
    });
  threads.clear();  // joins them

  TIdentities expected;
  for (const auto& devices : made)
    for (const auto& device : devices)
      expected.push_back(Identity(device.Get()));
  EXPECT_THAT(IdentitiesOf(*KorvelDevices()), UnorderedElementsAreArray(expected));

  for (auto& devices : made)
    threads.emplace_back([&devices] { devices.clear(); });
  threads.clear();
  EXPECT_THAT(*KorvelDevices(), IsEmpty());
  EXPECT_THAT(Events(), SizeIs(2 * kThreads * kPerThread));
}

}  // namespace
}  // namespace zorvid
