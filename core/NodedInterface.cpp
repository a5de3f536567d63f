#include "core/NodedInterface.h"

#include <algorithm>

namespace zorvid {

Teventer_NodedInterface& NodeCreatedEventer() {
  static auto* eventer = new Teventer_NodedInterface;
  return *eventer;
}

Teventer_NodedInterface& NodeDestroyedEventer() {
  static auto* eventer = new Teventer_NodedInterface;
  return *eventer;
}

TNodedInterface::TNodedInterface(std::string className, TRef<IXMLElement> element,
                                 TRef<IInterface> owner)
    : element_(element), name_(std::move(className)) {
  TNodedInterface::SetOwner(std::move(owner));
  try {
    TNodedInterface::LoadFromXML(element, true, false);
  } catch (...) {
    // The owner already lists this node; it must not keep a pointer to an object that is
    // never finished.
    TNodedInterface::SetOwner({});
    throw;
  }
  NodeCreatedEventer().Fire(TRef<INodedInterface>(this));
}

TNodedInterface::~TNodedInterface() = default;

void TNodedInterface::BeforeDestruction() noexcept {
  NodeDestroyedEventer().Fire(TRef<INodedInterface>(this));
  ClearChildren();
}

bool TNodedInterface::IsMe(const TRef<IInterface>& node) const {
  return Identity(node.Get()) == Identity(this);
}

std::string TNodedInterface::GetName() {
  TReadLocker guard(lock_);
  return name_;
}

void TNodedInterface::SetName(const std::string& name) {
  TWriteLocker guard(lock_);
  name_ = name;
  if (element_) element_->SetAttribute("name", name);
}

TGUID TNodedInterface::GetGUID() {
  return StringToGUID(GetGUIDString());
}

std::string TNodedInterface::GetGUIDString() {
  TReadLocker guard(lock_);
  return guid_;
}

bool TNodedInterface::GetEnabled() {
  TReadLocker guard(lock_);
  return enabled_;
}

void TNodedInterface::SetEnabled(bool value) {
  TWriteLocker guard(lock_);
  enabled_ = value;
}

void TNodedInterface::Fire(TeventerDescentEvent* eventer, TRef<IInterface> node,
                           std::int32_t level) {
  if (eventer) eventer->Fire(std::move(node), level + 1);
}

void TNodedInterface::NotifyAdded(TRef<IInterface> node, std::int32_t level) {
  TeventerDescentEvent* eventer;
  {
    TReadLocker guard(lock_);
    eventer = addedEventer_.get();
  }
  Fire(eventer, std::move(node), level);
}

void TNodedInterface::NotifyRemoved(TRef<IInterface> node, std::int32_t level) {
  TeventerDescentEvent* eventer;
  {
    TReadLocker guard(lock_);
    eventer = removedEventer_.get();
  }
  Fire(eventer, std::move(node), level);
}

void TNodedInterface::SetXMLElement(TRef<IXMLElement> element) {
  TWriteLocker guard(lock_);
  element_ = std::move(element);
}

void TNodedInterface::LoadFromXML(TRef<IXMLElement> element, bool bind, bool reloadGUID) {
  TWriteLocker guard(lock_);
  if (bind) element_ = element;
  if (element && element->HasAttribute("name")) name_ = element->GetAttribute("name").Text();
  enabled_ = element && element->HasAttribute("enabled")
                 ? VariantToBool(element->GetAttribute("enabled"))
                 : true;
  if (reloadGUID || guid_.empty()) {
    guid_ = element && element->HasAttribute("GUID") ? element->GetAttribute("GUID").Text()
                                                     : GUIDToString(CreateGUID());
  }
}

void TNodedInterface::SaveToXML() {
  TWriteLocker guard(lock_);
  if (!element_) return;
  element_->SetAttribute("name", name_);
  element_->SetAttribute("enabled", enabled_);
  element_->SetAttribute("GUID", guid_);
}

TRef<IXMLElement> TNodedInterface::GetXMLElement() {
  TReadLocker guard(lock_);
  return element_;
}

TRef<IInterface> TNodedInterface::GetOwner() {
  TReadLocker guard(lock_);
  return owner_;
}

void TNodedInterface::SetOwner(TRef<IInterface> owner) {
  TWriteLocker guard(lock_);
  if (owner == owner_) return;
  const TRef<IInterface> self(this);
  if (auto oldParent = Supports<INodedInterface>(owner_)) oldParent->RemoveChild(self);
  owner_ = owner;
  if (auto newParent = Supports<INodedInterface>(owner)) newParent->AddChild(self);
}

TRef<INodedInterface> TNodedInterface::GetParent() {
  return Supports<INodedInterface>(GetOwner());
}

TInterfaceList TNodedInterface::GetChildren() {
  TReadLocker guard(lock_);
  return children_;
}

TRef<INodedInterface> TNodedInterface::GetChild(std::int32_t index) {
  TReadLocker guard(lock_);
  if (index < 0 || static_cast<std::size_t>(index) >= children_.size()) return {};
  return Supports<INodedInterface>(children_[static_cast<std::size_t>(index)]);
}

std::int32_t TNodedInterface::GetChildCount() {
  TReadLocker guard(lock_);
  return static_cast<std::int32_t>(children_.size());
}

std::int32_t TNodedInterface::IndexOfChild(const TRef<IInterface>& child) {
  TReadLocker guard(lock_);
  const auto found = std::find(children_.begin(), children_.end(), child);
  return found == children_.end() ? -1 : static_cast<std::int32_t>(found - children_.begin());
}

std::int32_t TNodedInterface::AddChild(TRef<IInterface> child) {
  if (!child) return -1;
  std::int32_t result;
  {
    TWriteLocker guard(lock_);
    if (std::find(children_.begin(), children_.end(), child) != children_.end()) return -1;
    children_.push_back(child);
    result = static_cast<std::int32_t>(children_.size()) - 1;
  }
  if (auto node = Supports<INodedInterface>(child)) {
    TWriteLocker childGuard(*node);
    if (!IsMe(node->GetOwner())) node->SetOwner(TRef<IInterface>(this));
    node->GetAddedEventer().Add(AddedForwarder());
    node->GetRemovedEventer().Add(RemovedForwarder());
    NotifyAdded(child, 0);
  }
  return result;
}

std::int32_t TNodedInterface::RemoveChild(TRef<IInterface> child) {
  TWriteLocker guard(lock_);
  const auto found = std::find(children_.begin(), children_.end(), child);
  if (found == children_.end()) return -1;
  const auto index = static_cast<std::int32_t>(found - children_.begin());
  children_.erase(found);
  if (auto node = Supports<INodedInterface>(child)) {
    NotifyRemoved(child, 0);
    if (IsMe(node->GetOwner())) node->SetOwner({});
    node->GetAddedEventer().Remove(AddedForwarder());
    node->GetRemovedEventer().Remove(RemovedForwarder());
  }
  return index;
}

std::int32_t TNodedInterface::ClearChildren() {
  TWriteLocker guard(lock_);
  // Last to first over a snapshot, detaching every child that is a node; children that are
  // not nodes stay, without keeping the nodes before them attached.
  const TInterfaceList children = children_;
  std::int32_t count = 0;
  for (auto child = children.rbegin(); child != children.rend(); ++child) {
    if (!Supports<INodedInterface>(*child)) continue;
    // A removal handler may have detached it already.
    if (RemoveChild(*child) >= 0) ++count;
  }
  return count;
}

void TNodedInterface::Dismantle() {
  TWriteLocker guard(lock_);
  for (const auto& child : TInterfaceList(children_))
    if (auto node = Supports<INodedInterface>(child)) node->Dismantle();
  ClearChildren();
}

std::int32_t TNodedInterface::CountSupporting(const TInterfaceId& id, bool recursive) {
  std::int32_t count = 0;
  for (const auto& child : GetChildren()) {
    if (auto node = Supports<INodedInterface>(child); recursive && node)
      count += node->CountSupporting(id, true);
    if (id.offeredBy(child.Get())) ++count;
  }
  return count;
}

bool TNodedInterface::FindInTree(const std::string& ownKey, std::string_view text, TFinder find,
                                 TRef<INodedInterface>& node) {
  if (ownKey == text) {
    node = TRef<INodedInterface>(this);
    return true;
  }
  for (const auto& child : GetChildren()) {
    auto childNode = Supports<INodedInterface>(child);
    if (childNode && (childNode.Get()->*find)(text, node)) return true;
  }
  return false;
}

bool TNodedInterface::FindByGUID(std::string_view guid, TRef<INodedInterface>& node) {
  return FindInTree(GetGUIDString(), guid, &INodedInterface::FindByGUID, node);
}

bool TNodedInterface::FindByName(std::string_view name, TRef<INodedInterface>& node) {
  return FindInTree(GetName(), name, &INodedInterface::FindByName, node);
}

TeventerDescentEvent& TNodedInterface::GetAddedEventer() {
  TWriteLocker guard(lock_);
  if (!addedEventer_) addedEventer_ = std::make_unique<TeventerDescentEvent>();
  return *addedEventer_;
}

TeventerDescentEvent& TNodedInterface::GetRemovedEventer() {
  TWriteLocker guard(lock_);
  if (!removedEventer_) removedEventer_ = std::make_unique<TeventerDescentEvent>();
  return *removedEventer_;
}

}  // namespace zorvid
