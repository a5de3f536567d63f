#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/Eventer.h"
#include "core/Guid.h"
#include "core/MyInterfacedObject.h"
#include "core/ReadWriteLock.h"
#include "core/XmlElement.h"

namespace zorvid {

class INodedInterface;
using TInterfaceList = std::vector<TRef<IInterface>>;

// Name, GUID, enabled flag, lock and descent notifications of a node.
class INodedInterfaceCore : public virtual IInterface {
 public:
  virtual std::string GetName() = 0;
  virtual void SetName(const std::string& name) = 0;
  virtual TGUID GetGUID() = 0;
  virtual std::string GetGUIDString() = 0;
  virtual bool GetEnabled() = 0;
  virtual void SetEnabled(bool value) = 0;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual void LockRead() = 0;
  virtual void UnlockRead() = 0;
  // Fire this node's added / removed eventer with (node, level + 1), if it exists.
  virtual void NotifyAdded(TRef<IInterface> node, std::int32_t level) = 0;
  virtual void NotifyRemoved(TRef<IInterface> node, std::int32_t level) = 0;
};

// A reference-counted node of the interface tree: owner, children and persistence.
class INodedInterface : public virtual INodedInterfaceCore {
 public:
  virtual void SetXMLElement(TRef<IXMLElement> element) = 0;
  virtual void LoadFromXML(TRef<IXMLElement> element, bool bind, bool reloadGUID) = 0;
  virtual void SaveToXML() = 0;
  virtual TRef<IXMLElement> GetXMLElement() = 0;
  void LoadFromXML(TRef<IXMLElement> element) { LoadFromXML(std::move(element), true, false); }

  virtual TRef<IInterface> GetOwner() = 0;
  virtual void SetOwner(TRef<IInterface> owner) = 0;
  virtual TRef<INodedInterface> GetParent() = 0;
  virtual void SetParent(TRef<IInterface> owner) = 0;

  virtual TInterfaceList GetChildren() = 0;
  virtual TRef<INodedInterface> GetChild(std::int32_t index) = 0;
  virtual std::int32_t GetChildCount() = 0;
  virtual std::int32_t AddChild(TRef<IInterface> child) = 0;
  virtual std::int32_t RemoveChild(TRef<IInterface> child) = 0;
  virtual std::int32_t ClearChildren() = 0;
  virtual std::int32_t IndexOfChild(const TRef<IInterface>& child) = 0;
  virtual std::int32_t CountSupporting(const TInterfaceId& id, bool recursive) = 0;
  virtual bool FindByGUID(std::string_view guid, TRef<INodedInterface>& node) = 0;
  virtual bool FindByName(std::string_view name, TRef<INodedInterface>& node) = 0;

  virtual TeventerDescentEvent& GetAddedEventer() = 0;
  virtual TeventerDescentEvent& GetRemovedEventer() = 0;
  // Detaches the whole subtree below this node, which releases it.
  virtual void Dismantle() = 0;
};

inline constexpr TInterfaceId IID_INodedInterfaceCore =
    MakeInterfaceId<INodedInterfaceCore>("{DD03F488-8A5F-4757-98C3-8C2F2F38BEF4}");
inline constexpr TInterfaceId IID_INodedInterface =
    MakeInterfaceId<INodedInterface>("{932E676F-ACE9-4CE9-BDEB-60D2688BA949}");

// A node was created or destroyed.
class Teventer_NodedInterface final : public TTypedEventer<TRef<INodedInterface>> {};

// The process-wide node-created and node-destroyed notifications. They live for the whole run
// and are never destroyed, so that nodes that outlive main() can still report themselves.
Teventer_NodedInterface& NodeCreatedEventer();
Teventer_NodedInterface& NodeDestroyedEventer();

// The node. Every field is read under the shared lock and written under the exclusive lock
// (lock_); descent notifications run synchronously on the thread that changed the tree.
// Lock order: a child changing its owner holds its own lock while it calls the old and the
// new parent; a parent removing a child holds its lock while it calls the child.
class TNodedInterface : public TMyInterfacedObject, public virtual INodedInterface {
 public:
  // `className` is the node's initial name. The constructor runs the base SetOwner and
  // LoadFromXML; a class that extends SetOwner applies its own rule after construction.
  explicit TNodedInterface(std::string className, TRef<IXMLElement> element = {},
                           TRef<IInterface> owner = {});
  ~TNodedInterface() override;

  std::string GetName() override;
  void SetName(const std::string& name) override;
  TGUID GetGUID() override;
  std::string GetGUIDString() override;
  bool GetEnabled() override;
  void SetEnabled(bool value) override;
  void Lock() override { lock_.Lock(); }
  void Unlock() override { lock_.Unlock(); }
  void LockRead() override { lock_.LockRead(); }
  void UnlockRead() override { lock_.UnlockRead(); }
  void NotifyAdded(TRef<IInterface> node, std::int32_t level) override;
  void NotifyRemoved(TRef<IInterface> node, std::int32_t level) override;

  void SetXMLElement(TRef<IXMLElement> element) override;
  using INodedInterface::LoadFromXML;
  void LoadFromXML(TRef<IXMLElement> element, bool bind, bool reloadGUID) override;
  void SaveToXML() override;
  TRef<IXMLElement> GetXMLElement() override;

  TRef<IInterface> GetOwner() override;
  void SetOwner(TRef<IInterface> owner) override;
  TRef<INodedInterface> GetParent() override;
  void SetParent(TRef<IInterface> owner) override { SetOwner(std::move(owner)); }

  TInterfaceList GetChildren() override;
  TRef<INodedInterface> GetChild(std::int32_t index) override;
  std::int32_t GetChildCount() override;
  std::int32_t AddChild(TRef<IInterface> child) override;
  std::int32_t RemoveChild(TRef<IInterface> child) override;
  std::int32_t ClearChildren() override;
  std::int32_t IndexOfChild(const TRef<IInterface>& child) override;
  std::int32_t CountSupporting(const TInterfaceId& id, bool recursive) override;
  bool FindByGUID(std::string_view guid, TRef<INodedInterface>& node) override;
  bool FindByName(std::string_view name, TRef<INodedInterface>& node) override;

  TeventerDescentEvent& GetAddedEventer() override;
  TeventerDescentEvent& GetRemovedEventer() override;
  void Dismantle() override;

 protected:
  void BeforeDestruction() noexcept override;

 private:
  using TDescentHandler = TeventerDescentEvent::THandlerType;
  TDescentHandler AddedForwarder() { return {this, &TNodedInterface::NotifyAdded}; }
  TDescentHandler RemovedForwarder() { return {this, &TNodedInterface::NotifyRemoved}; }
  bool IsMe(const TRef<IInterface>& node) const;
  // Depth-first search: this node when its key is the text, else the first child subtree
  // whose `find` succeeds, on a snapshot of the children.
  using TFinder = bool (INodedInterface::*)(std::string_view, TRef<INodedInterface>&);
  bool FindInTree(const std::string& ownKey, std::string_view text, TFinder find,
                  TRef<INodedInterface>& node);
  static void Fire(TeventerDescentEvent* eventer, TRef<IInterface> node, std::int32_t level);

  TReentrantReadWriteLock lock_;
  // All fields below are guarded by lock_.
  bool enabled_ = true;
  TRef<IXMLElement> element_;
  std::string name_;
  TRef<IInterface> owner_;
  TInterfaceList children_;
  std::unique_ptr<TeventerDescentEvent> addedEventer_;    // created on first request
  std::unique_ptr<TeventerDescentEvent> removedEventer_;  // created on first request
  std::string guid_;
};

}  // namespace zorvid
