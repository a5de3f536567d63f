#include "core/NodedInterface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/Errors.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Pair;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// Every test object counts its complete constructions and its destructions, so that a test can
// see exactly what a release destroyed and the fixture can see that nothing was left behind.
std::atomic<int> constructed{0};
std::atomic<int> destroyed{0};

class TTestNode : public TNodedInterface {
 public:
  explicit TTestNode(std::string className = "TTestNode", TRef<IXMLElement> element = {},
                     TRef<IInterface> owner = {})
      : TNodedInterface(std::move(className), std::move(element), std::move(owner)) {
    ++constructed;
  }
  ~TTestNode() override { ++destroyed; }
};

// An interface only some objects offer.
class ITestFeature : public virtual IInterface {
 public:
  virtual int Feature() const = 0;
};
constexpr TInterfaceId IID_ITestFeature =
    MakeInterfaceId<ITestFeature>("{5B0C2E1A-7D44-4F0E-9A31-0C6E8B2D7F11}");

class TFeatureNode final : public TTestNode, public ITestFeature {
 public:
  explicit TFeatureNode(TRef<IInterface> owner = {}) : TTestNode("TFeatureNode", {}, owner) {}
  int Feature() const override { return 1; }
};

// Children that are not nodes.
class TPlainObject : public TMyInterfacedObject {
 public:
  TPlainObject() { ++constructed; }
  ~TPlainObject() override { ++destroyed; }
};
class TFeatureObject final : public TPlainObject, public ITestFeature {
 public:
  int Feature() const override { return 2; }
};

template <class T>
const IInterface* Id(const TRef<T>& object) {
  return Identity(object.Get());
}

TRef<TTestNode> NewNode(const std::string& name, TRef<IInterface> owner = {}) {
  auto node = New<TTestNode>("TTestNode", TRef<IXMLElement>(), std::move(owner));
  node->SetName(name);
  return node;
}

// Records the (node, level) pairs that one node's added and removed eventers report from the
// moment it is made. The node must report nothing more once the log has gone.
struct TDescentLog {
  explicit TDescentLog(const TRef<TTestNode>& node) {
    node->GetAddedEventer().Add({this, &TDescentLog::OnAdded});
    node->GetRemovedEventer().Add({this, &TDescentLog::OnRemoved});
  }
  std::vector<std::pair<const IInterface*, int>> added, removed;

 private:
  void OnAdded(TRef<IInterface> node, std::int32_t level) { added.emplace_back(node.Get(), level); }
  void OnRemoved(TRef<IInterface> node, std::int32_t level) {
    removed.emplace_back(node.Get(), level);
  }
};

class NodedInterfaceTest : public ::testing::Test {
 protected:
  using TNodeHandler = Teventer_NodedInterface::THandlerType;

  void SetUp() override {
    constructed = 0;
    destroyed = 0;
  }
  void TearDown() override {
    // The node eventers are process-wide: no handler may outlive its test.
    NodeCreatedEventer().Remove(CreatedHandler());
    NodeDestroyedEventer().Remove(DestroyedHandler());
    EXPECT_EQ(destroyed, constructed) << "objects left alive at the end of the test";
  }

  void OnCreated(TRef<INodedInterface> node) {
    created.push_back(Id(node));
    createdNames.push_back(node->GetName());
  }
  void OnDestroyed(TRef<INodedInterface> node) {
    // Take further references and drop them again while the node is being destroyed.
    TRef<INodedInterface> extra = node;
    TRef<IInterface> base(extra.Get());
    destroyedIds.push_back(Identity(base.Get()));
    destroyedNames.push_back(extra->GetName());
    destroyedParents.push_back(Id(extra->GetParent()));
  }
  TNodeHandler CreatedHandler() { return {this, &NodedInterfaceTest::OnCreated}; }
  TNodeHandler DestroyedHandler() { return {this, &NodedInterfaceTest::OnDestroyed}; }

  std::vector<const IInterface*> created;
  std::vector<std::string> createdNames;
  std::vector<const IInterface*> destroyedIds;
  std::vector<std::string> destroyedNames;
  std::vector<const IInterface*> destroyedParents;
};

TEST_F(NodedInterfaceTest, NewNodeWithoutElement) {
  NodeCreatedEventer().Add(CreatedHandler());
  auto first = New<TTestNode>();
  auto second = New<TFeatureNode>();

  EXPECT_TRUE(first->GetEnabled());
  EXPECT_EQ(first->GetName(), "TTestNode");
  EXPECT_EQ(second->GetName(), "TFeatureNode");
  EXPECT_FALSE(first->GetXMLElement());
  EXPECT_FALSE(first->GetOwner());
  EXPECT_FALSE(first->GetParent());
  EXPECT_EQ(first->GetChildCount(), 0);

  const auto registryForm =
      MatchesRegex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})");
  EXPECT_THAT(first->GetGUIDString(), registryForm);
  EXPECT_THAT(second->GetGUIDString(), registryForm);
  EXPECT_NE(first->GetGUIDString(), second->GetGUIDString());
  EXPECT_EQ(GUIDToString(first->GetGUID()), first->GetGUIDString());

  // Each construction announced its node once, under the class name.
  EXPECT_THAT(created, ElementsAre(Id(first), Id(second)));
  EXPECT_THAT(createdNames, ElementsAre("TTestNode", "TFeatureNode"));
}

TEST_F(NodedInterfaceTest, LastReleaseDestroysExactlyOnce) {
  NodeDestroyedEventer().Add(DestroyedHandler());
  auto node = NewNode("Single");
  const IInterface* identity = Id(node);

  TRef<INodedInterface> second(node.Get());
  node.Reset();
  EXPECT_EQ(destroyed, 0) << "a reference is still held";
  EXPECT_TRUE(destroyedIds.empty());

  // The destroyed handler takes and drops references to the dying node: that must neither
  // destroy it a second time nor keep it alive.
  second.Reset();
  EXPECT_EQ(destroyed, 1);
  EXPECT_THAT(destroyedIds, ElementsAre(identity));
  EXPECT_THAT(destroyedNames, ElementsAre("Single"));
}

TEST_F(NodedInterfaceTest, ParentAndChildKeepEachOtherAliveUntilDismantled) {
  NodeDestroyedEventer().Add(DestroyedHandler());
  auto parent = NewNode("Parent");
  auto child = NewNode("Child", parent);
  auto grandchild = NewNode("Grandchild", child);
  TPlainObject* plain = nullptr;
  {
    auto object = New<TPlainObject>();
    plain = object.Get();
    parent->AddChild(object);
  }
  TTestNode* const parentPointer = parent.Get();
  const IInterface* childId = Id(child);
  const IInterface* grandchildId = Id(grandchild);

  grandchild.Reset();
  child.Reset();
  parent.Reset();
  EXPECT_EQ(destroyed, 0) << "the tree holds itself through owner and children references";

  // The tree is still alive, so it can be reached again and taken apart.
  TRef<TTestNode> again(parentPointer);
  ASSERT_EQ(again->GetChildCount(), 2);
  again->Dismantle();
  EXPECT_EQ(destroyed, 2) << "child and grandchild are released by Dismantle";
  EXPECT_THAT(destroyedIds, ::testing::UnorderedElementsAre(childId, grandchildId));
  // A detached node has no parent any more when it goes.
  EXPECT_THAT(destroyedParents, ElementsAre(nullptr, nullptr));

  // Objects that are not nodes stay listed until the parent goes.
  EXPECT_EQ(again->GetChildCount(), 1);
  EXPECT_EQ(again->GetChildren().front().Get(), Identity(plain));
  again.Reset();
  EXPECT_EQ(destroyed, 4);
}

TEST_F(NodedInterfaceTest, AddAndRemoveChildren) {
  auto parent = NewNode("Parent");
  TDescentLog log(parent);
  auto first = NewNode("First");
  auto second = NewNode("Second");

  EXPECT_EQ(parent->AddChild(first), 0);
  EXPECT_EQ(parent->AddChild(second), 1);
  EXPECT_EQ(parent->AddChild(first), -1) << "already a child";
  EXPECT_EQ(parent->AddChild(nullptr), -1);
  EXPECT_EQ(parent->GetChildCount(), 2);
  EXPECT_EQ(Id(first->GetParent()), Id(parent)) << "AddChild makes the parent the owner";
  EXPECT_THAT(log.added, ElementsAre(Pair(Id(first), 1), Pair(Id(second), 1)));
  EXPECT_EQ(parent->IndexOfChild(second), 1);

  auto stranger = NewNode("Stranger");
  EXPECT_EQ(parent->RemoveChild(stranger), -1);
  EXPECT_EQ(parent->IndexOfChild(stranger), -1);
  EXPECT_TRUE(log.removed.empty());

  EXPECT_EQ(parent->RemoveChild(first), 0);
  EXPECT_FALSE(first->GetOwner());
  EXPECT_EQ(parent->IndexOfChild(second), 0);
  EXPECT_THAT(log.removed, ElementsAre(Pair(Id(first), 1)));
  EXPECT_EQ(parent->RemoveChild(first), -1);
  EXPECT_EQ(log.removed.size(), 1u);

  // A snapshot does not follow later changes.
  const TInterfaceList snapshot = parent->GetChildren();
  parent->AddChild(first);
  EXPECT_EQ(snapshot.size(), 1u);
  EXPECT_EQ(parent->GetChildCount(), 2);
  parent->Dismantle();
}

TEST_F(NodedInterfaceTest, SetOwnerAttachesAndDetaches) {
  auto parent = NewNode("Parent");
  TDescentLog log(parent);
  auto child = NewNode("Child");
  const int before = parent->GetChildCount();

  child->SetOwner(parent);
  EXPECT_EQ(parent->GetChildCount(), before + 1);
  EXPECT_EQ(Id(child->GetParent()), Id(parent));
  EXPECT_EQ(Id(child->GetOwner()), Id(parent));
  EXPECT_EQ(parent->IndexOfChild(child), before);
  EXPECT_THAT(log.added, ElementsAre(Pair(Id(child), 1)));

  child->SetOwner(parent);  // the owner already: nothing happens
  EXPECT_EQ(parent->GetChildCount(), before + 1);
  EXPECT_EQ(log.added.size(), 1u);

  child->SetOwner(nullptr);
  EXPECT_EQ(parent->GetChildCount(), before);
  EXPECT_FALSE(child->GetParent());
  EXPECT_EQ(parent->IndexOfChild(child), -1);
  EXPECT_THAT(log.removed, ElementsAre(Pair(Id(child), 1)));

  // SetParent is the same operation.
  child->SetParent(parent);
  EXPECT_EQ(Id(child->GetParent()), Id(parent));
  child->SetParent(nullptr);
  EXPECT_EQ(parent->GetChildCount(), before);

  // An owner that is not a node is kept, but there is no parent and no child list to join.
  auto plain = New<TPlainObject>();
  child->SetOwner(plain);
  EXPECT_EQ(Id(child->GetOwner()), Id(plain));
  EXPECT_FALSE(child->GetParent());
  child->SetOwner(nullptr);
}

TEST_F(NodedInterfaceTest, ChildMovesToAnotherParent) {
  auto oldParent = NewNode("Old");
  auto newParent = NewNode("New");
  auto child = NewNode("Child", oldParent);
  TDescentLog oldLog(oldParent), newLog(newParent);

  EXPECT_EQ(newParent->AddChild(child), 0);
  EXPECT_EQ(oldParent->GetChildCount(), 0);
  EXPECT_EQ(newParent->GetChildCount(), 1);
  EXPECT_EQ(Id(child->GetParent()), Id(newParent));
  EXPECT_THAT(oldLog.removed, ElementsAre(Pair(Id(child), 1)));
  EXPECT_THAT(newLog.added, ElementsAre(Pair(Id(child), 1))) << "announced once";

  // The old parent no longer hears about the child's subtree.
  auto grandchild = NewNode("Grandchild", child);
  EXPECT_TRUE(oldLog.added.empty());
  EXPECT_THAT(newLog.added, ElementsAre(Pair(Id(child), 1), Pair(Id(grandchild), 2)));
  newParent->Dismantle();
}

TEST_F(NodedInterfaceTest, DescendantEventsCarryTheDistance) {
  auto root = NewNode("Root");
  auto middle = NewNode("Middle", root);
  TDescentLog rootLog(root), middleLog(middle);

  auto leaf = NewNode("Leaf", middle);
  auto deepLeaf = NewNode("DeepLeaf", leaf);
  EXPECT_THAT(middleLog.added, ElementsAre(Pair(Id(leaf), 1), Pair(Id(deepLeaf), 2)));
  EXPECT_THAT(rootLog.added, ElementsAre(Pair(Id(leaf), 2), Pair(Id(deepLeaf), 3)));

  deepLeaf->SetOwner(nullptr);
  EXPECT_THAT(rootLog.removed, ElementsAre(Pair(Id(deepLeaf), 3)));

  // Once the middle node is detached, nothing below it reaches the root any more.
  middle->SetOwner(nullptr);
  EXPECT_THAT(rootLog.removed, ElementsAre(Pair(Id(deepLeaf), 3), Pair(Id(middle), 1)));
  auto late = NewNode("Late", leaf);
  leaf->RemoveChild(late);
  EXPECT_EQ(rootLog.added.size(), 2u);
  EXPECT_EQ(rootLog.removed.size(), 2u);
  EXPECT_THAT(middleLog.added.back(), Pair(Id(late), 2));
  middle->Dismantle();
}

TEST_F(NodedInterfaceTest, GetChildOutOfRangeOrNotANode) {
  auto parent = NewNode("Parent");
  auto node = NewNode("Node", parent);
  parent->AddChild(New<TPlainObject>());
  ASSERT_EQ(parent->GetChildCount(), 2);

  EXPECT_EQ(Id(parent->GetChild(0)), Id(node));
  EXPECT_FALSE(parent->GetChild(1)) << "a child that is not a node";
  EXPECT_FALSE(parent->GetChild(-1));
  EXPECT_FALSE(parent->GetChild(parent->GetChildCount()));
  parent->Dismantle();
}

TEST_F(NodedInterfaceTest, FindSearchesDepthFirst) {
  // Root -> [A -> [Twin (deep)], Twin (shallow)]: depth first reaches the deep twin first.
  auto root = NewNode("Root");
  auto a = NewNode("A", root);
  auto deepTwin = NewNode("Twin", a);
  auto shallowTwin = NewNode("Twin", root);
  root->AddChild(New<TPlainObject>());  // searched past, not into

  TRef<INodedInterface> found;
  ASSERT_TRUE(root->FindByName("Twin", found));
  EXPECT_EQ(Id(found), Id(deepTwin));
  ASSERT_TRUE(root->FindByName("Root", found));
  EXPECT_EQ(Id(found), Id(root));
  EXPECT_FALSE(root->FindByName("twin", found)) << "names compare case-sensitively";
  EXPECT_FALSE(a->FindByName("Root", found)) << "the search does not go upwards";

  ASSERT_TRUE(root->FindByGUID(shallowTwin->GetGUIDString(), found));
  EXPECT_EQ(Id(found), Id(shallowTwin));
  ASSERT_TRUE(root->FindByGUID(deepTwin->GetGUIDString(), found));
  EXPECT_EQ(Id(found), Id(deepTwin));
  std::string lowerGuid = deepTwin->GetGUIDString();
  for (char& c : lowerGuid)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_NE(lowerGuid, deepTwin->GetGUIDString());
  EXPECT_FALSE(root->FindByGUID(lowerGuid, found)) << "GUID texts compare exactly";
  EXPECT_FALSE(root->FindByGUID(GUIDToString(CreateGUID()), found));
  root->Dismantle();
}

TEST_F(NodedInterfaceTest, CountSupportingWithAndWithoutRecursion) {
  // Root -> [F1 -> [F2 -> [F3], N4], N5 -> [F6], feature object, plain object]
  auto root = NewNode("Root");
  auto f1 = New<TFeatureNode>(root);
  auto f2 = New<TFeatureNode>(f1);
  New<TFeatureNode>(f2);
  NewNode("N4", f1);
  auto n5 = NewNode("N5", root);
  New<TFeatureNode>(n5);
  root->AddChild(New<TFeatureObject>());
  root->AddChild(New<TPlainObject>());

  EXPECT_EQ(root->CountSupporting(IID_ITestFeature, false), 2);  // F1, feature object
  EXPECT_EQ(root->CountSupporting(IID_ITestFeature, true), 5);   // + F2, F3, F6
  EXPECT_EQ(root->CountSupporting(IID_INodedInterface, false), 2);
  EXPECT_EQ(root->CountSupporting(IID_INodedInterface, true), 6);
  EXPECT_EQ(f1->CountSupporting(IID_ITestFeature, false), 1);
  EXPECT_EQ(f1->CountSupporting(IID_ITestFeature, true), 2);
  root->Dismantle();
}

TEST_F(NodedInterfaceTest, ClearChildrenDetachesNodesOnly) {
  auto parent = NewNode("Parent");
  TDescentLog log(parent);
  auto c1 = NewNode("C1", parent);
  auto c2 = NewNode("C2", parent);
  auto plain = New<TPlainObject>();
  parent->AddChild(plain);
  auto c3 = NewNode("C3", parent);

  // The object that is not a node stays, and does not keep the nodes before it attached.
  EXPECT_EQ(parent->ClearChildren(), 3);
  ASSERT_EQ(parent->GetChildCount(), 1);
  EXPECT_EQ(parent->GetChildren().front().Get(), Identity(plain.Get()));
  EXPECT_FALSE(c1->GetParent());
  EXPECT_FALSE(c2->GetParent());
  EXPECT_FALSE(c3->GetParent());
  EXPECT_THAT(log.removed, ElementsAre(Pair(Id(c3), 1), Pair(Id(c2), 1), Pair(Id(c1), 1)));
  EXPECT_EQ(parent->ClearChildren(), 0);
}

// A removal handler that detaches a sibling of the node just removed.
struct TSiblingDetacher {
  TRef<INodedInterface> trigger;
  TRef<INodedInterface> sibling;
  void On(TRef<IInterface> node, std::int32_t) {
    if (node == trigger) sibling->SetOwner(nullptr);
  }
};

TEST_F(NodedInterfaceTest, ClearChildrenCountsOnlyWhatItDetached) {
  auto parent = NewNode("Parent");
  auto a = NewNode("A", parent);
  auto b = NewNode("B", parent);
  auto c = NewNode("C", parent);
  TSiblingDetacher detacher{c, b};
  const TeventerDescentEvent::THandlerType handler{&detacher, &TSiblingDetacher::On};
  parent->GetRemovedEventer().Add(handler);

  // C goes first; its removal handler detaches B, so ClearChildren itself detaches C and A.
  EXPECT_EQ(parent->ClearChildren(), 2);
  EXPECT_EQ(parent->GetChildCount(), 0);
  EXPECT_FALSE(a->GetParent());
  EXPECT_FALSE(b->GetParent());
  parent->GetRemovedEventer().Remove(handler);
}

TEST_F(NodedInterfaceTest, LoadFromXML) {
  const std::string givenGuid = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  auto element = New<TXMLElement>();
  element->SetAttribute("name", "Lamp");
  element->SetAttribute("enabled", "false");
  element->SetAttribute("GUID", givenGuid);

  NodeCreatedEventer().Add(CreatedHandler());
  auto node = New<TTestNode>("TTestNode", element);
  EXPECT_EQ(node->GetName(), "Lamp");
  EXPECT_FALSE(node->GetEnabled());
  EXPECT_EQ(node->GetGUIDString(), givenGuid);
  EXPECT_EQ(Id(node->GetXMLElement()), Id(element));
  EXPECT_THAT(createdNames, ElementsAre("Lamp")) << "announced after loading";

  // Without reloadGUID the GUID stays, although the element carries another one.
  auto other = New<TXMLElement>();
  other->SetAttribute("name", "Other");
  other->SetAttribute("enabled", "1");
  other->SetAttribute("GUID", GUIDToString(CreateGUID()));
  node->LoadFromXML(other);
  EXPECT_EQ(node->GetGUIDString(), givenGuid);
  EXPECT_EQ(node->GetName(), "Other");
  EXPECT_TRUE(node->GetEnabled());
  EXPECT_EQ(Id(node->GetXMLElement()), Id(other));

  // With reloadGUID it is taken over; without bind the bound element stays.
  node->LoadFromXML(element, false, true);
  EXPECT_EQ(node->GetGUIDString(), givenGuid);
  node->LoadFromXML(other, false, true);
  EXPECT_EQ(node->GetGUIDString(), other->GetAttribute("GUID").Text());
  node->LoadFromXML(element, false, false);
  EXPECT_EQ(Id(node->GetXMLElement()), Id(other));
  EXPECT_EQ(node->GetName(), "Lamp");

  // An element without attributes keeps the name, enables the node and, on reload, makes a
  // fresh GUID.
  auto bare = New<TXMLElement>();
  const std::string previousGuid = node->GetGUIDString();
  node->LoadFromXML(bare, true, true);
  EXPECT_EQ(node->GetName(), "Lamp");
  EXPECT_TRUE(node->GetEnabled());
  EXPECT_NE(node->GetGUIDString(), previousGuid);
  EXPECT_NO_THROW(node->GetGUID());
}

TEST_F(NodedInterfaceTest, LoadFromXMLEnabledValues) {
  auto node = NewNode("Node");
  auto element = New<TXMLElement>();
  const std::vector<std::pair<TVariant, bool>> accepted{
      {"true", true}, {"TRUE", true}, {"False", false}, {"0", false}, {"-1", true}, {"7", true}};
  for (const auto& [value, expected] : accepted) {
    node->SetEnabled(!expected);
    element->SetAttribute("enabled", value);
    node->LoadFromXML(element);
    EXPECT_EQ(node->GetEnabled(), expected) << value.Text();
  }

  const std::vector<std::pair<TVariant, std::string>> missing{
      {TVariant::Null(), "Variant is Null !!!! ***"},
      {TVariant(), "Variant is Empty !!!! ***"},
      {"", "Variant is Empty !!!! ***"}};
  for (const auto& [value, message] : missing) {
    element->SetAttribute("enabled", value);
    EXPECT_THAT([&] { node->LoadFromXML(element); }, ThrowsMessage<EVariantError>(StrEq(message)));
  }
  element->SetAttribute("enabled", "maybe");
  EXPECT_THAT([&] { node->LoadFromXML(element); },
              ThrowsMessage<EConvertError>(HasSubstr("maybe")));
}

TEST_F(NodedInterfaceTest, SaveToXMLAndSetName) {
  auto node = NewNode("Saved");
  node->SaveToXML();  // no element bound: nothing to write to

  auto element = New<TXMLElement>();
  node->SetXMLElement(element);
  node->SetEnabled(false);
  node->SaveToXML();
  EXPECT_EQ(element->GetAttribute("name").Text(), "Saved");
  EXPECT_FALSE(VariantToBool(element->GetAttribute("enabled")));
  EXPECT_EQ(element->GetAttribute("GUID").Text(), node->GetGUIDString());

  // SetName writes through to the bound element at once.
  node->SetName("Renamed");
  EXPECT_EQ(element->GetAttribute("name").Text(), "Renamed");

  // What was saved loads back into a new node.
  auto copy = New<TTestNode>("TTestNode", element);
  EXPECT_EQ(copy->GetName(), "Renamed");
  EXPECT_FALSE(copy->GetEnabled());
  EXPECT_EQ(copy->GetGUIDString(), node->GetGUIDString());
}

TEST_F(NodedInterfaceTest, MalformedGuidTextFailsOnConversion) {
  const std::string badGuid = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1FG}";
  auto element = New<TXMLElement>();
  element->SetAttribute("GUID", badGuid);
  auto node = New<TTestNode>("TTestNode", element);
  EXPECT_EQ(node->GetGUIDString(), badGuid);
  EXPECT_THAT([&] { node->GetGUID(); }, ThrowsMessage<EConvertError>(HasSubstr(badGuid)));

  TRef<INodedInterface> found;
  EXPECT_TRUE(node->FindByGUID(badGuid, found)) << "the text is still the node's GUID string";
}

TEST_F(NodedInterfaceTest, FailedConstructionLeavesTheOwnerAlone) {
  NodeCreatedEventer().Add(CreatedHandler());
  NodeDestroyedEventer().Add(DestroyedHandler());
  auto owner = NewNode("Owner");
  auto sibling = NewNode("Sibling", owner);
  TDescentLog log(owner);
  const auto createdBefore = created.size();

  auto element = New<TXMLElement>();
  element->SetAttribute("name", "HalfBuilt");
  element->SetAttribute("enabled", TVariant::Null());
  EXPECT_THAT([&] { New<TTestNode>("TTestNode", element, owner); },
              ThrowsMessage<EVariantError>(StrEq("Variant is Null !!!! ***")));

  ASSERT_EQ(owner->GetChildCount(), 1);
  EXPECT_EQ(Id(owner->GetChild(0)), Id(sibling));
  EXPECT_EQ(created.size(), createdBefore) << "a node that was never finished is not announced";
  EXPECT_TRUE(destroyedIds.empty());
  // Whoever heard of the addition also hears of the removal.
  EXPECT_EQ(log.added.size(), 1u);
  EXPECT_EQ(log.removed.size(), 1u);

  // The owner is intact: its tree still works and is released normally.
  auto later = NewNode("Later", owner);
  EXPECT_EQ(owner->GetChildCount(), 2);
  owner->Dismantle();
  EXPECT_EQ(owner->GetChildCount(), 0);
}

TEST_F(NodedInterfaceTest, LockIsReentrant) {
  auto node = NewNode("Locked");
  node->Lock();
  node->Lock();
  node->LockRead();
  node->SetName("Inside");  // takes the exclusive lock once more
  EXPECT_EQ(node->GetName(), "Inside");
  node->UnlockRead();
  node->Unlock();

  // Still held once: another thread cannot read yet.
  std::atomic<bool> read{false};
  std::thread reader([&] {
    node->GetName();
    read = true;
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(read) << "one Unlock must not release a lock taken twice";
  node->Unlock();
  reader.join();
  EXPECT_TRUE(read);
}

// Many threads copy and drop references to one node; the last release, on whichever thread
// it happens, destroys it exactly once.
TEST_F(NodedInterfaceTest, ConcurrentReferencesAreCountedAtomically) {
  constexpr int kRounds = 100;
  constexpr int kThreads = 4;
  for (int round = 0; round < kRounds; ++round) {
    auto node = NewNode("Shared");
    std::latch start(kThreads);
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&start, copy = TRef<INodedInterface>(node.Get())]() mutable {
        start.arrive_and_wait();
        for (int i = 0; i < 50; ++i)
          TRef<INodedInterface> more(copy);
        copy.Reset();
      });
    }
    node.Reset();
    threads.clear();  // joins them
    ASSERT_EQ(destroyed, round + 1);
  }
}

// Threads attach and detach their own children to one parent while another thread searches
// and counts the tree. (The children are complete before they are attached: a node built with
// an owner is reachable through that owner while its derived constructors still run.)
TEST_F(NodedInterfaceTest, ConcurrentTreeChanges) {
  constexpr int kThreads = 4;
  constexpr int kChildren = 50;
  auto parent = NewNode("Parent");
  struct TCounter {
    std::atomic<int> calls{0};
    void On(TRef<IInterface>, std::int32_t) { ++calls; }
  } added, removed;
  parent->GetAddedEventer().Add({&added, &TCounter::On});
  parent->GetRemovedEventer().Add({&removed, &TCounter::On});

  std::atomic<bool> done{false};
  std::thread observer([&] {
    TRef<INodedInterface> found;
    while (!done) {
      EXPECT_LE(parent->CountSupporting(IID_INodedInterface, true), kThreads);
      parent->FindByName("Worker", found);
      parent->GetChild(0);
    }
  });
  std::vector<std::jthread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&] {
      for (int i = 0; i < kChildren; ++i) {
        auto child = NewNode("Worker");
        if (i % 2) {
          child->SetOwner(parent);
        } else {
          EXPECT_GE(parent->AddChild(child), 0);
        }
        EXPECT_EQ(Id(child->GetParent()), Id(parent));
        child->SetName("Leaving");
        if (i % 3) {
          child->SetOwner(nullptr);
        } else {
          EXPECT_GE(parent->RemoveChild(child), 0);
        }
        EXPECT_FALSE(child->GetParent());
      }
    });
  }
  workers.clear();  // joins them
  done = true;
  observer.join();

  EXPECT_EQ(parent->GetChildCount(), 0);
  EXPECT_EQ(added.calls, kThreads * kChildren);
  EXPECT_EQ(removed.calls, kThreads * kChildren);
  parent->GetAddedEventer().Remove({&added, &TCounter::On});
  parent->GetRemovedEventer().Remove({&removed, &TCounter::On});
}

}  // namespace
}  // namespace zorvid
