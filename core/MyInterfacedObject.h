#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

namespace zorvid {

// Base of every interface: intrusive reference counting. Interfaces derive from it virtually,
// so an object has exactly one IInterface sub-object, whose address is the object's identity.
class IInterface {
 public:
  virtual std::int32_t AddRef() noexcept = 0;
  virtual std::int32_t Release() noexcept = 0;

 protected:
  virtual ~IInterface() = default;
};

// A counted reference to an interface (or object) of type T.
template <class T>
class TRef {
 public:
  TRef() noexcept = default;
  TRef(std::nullptr_t) noexcept {}
  TRef(T* pointer) noexcept : pointer_(pointer) { AddRefIfSet(); }
  TRef(const TRef& other) noexcept : TRef(other.pointer_) {}
  TRef(TRef&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  TRef(const TRef<U>& other) noexcept : TRef(other.Get()) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  TRef(TRef<U>&& other) noexcept : pointer_(other.Detach()) {}
  ~TRef() { ReleaseIfSet(); }

  TRef& operator=(TRef other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }

  // Takes over a reference the caller already owns (no AddRef).
  static TRef Adopt(T* pointer) noexcept {
    TRef result;
    result.pointer_ = pointer;
    return result;
  }
  // Gives up the reference without releasing it.
  T* Detach() noexcept { return std::exchange(pointer_, nullptr); }

  T* Get() const noexcept { return pointer_; }
  T* operator->() const noexcept { return pointer_; }
  T& operator*() const noexcept { return *pointer_; }
  explicit operator bool() const noexcept { return pointer_ != nullptr; }
  void Reset() noexcept { TRef().Swap(*this); }
  void Swap(TRef& other) noexcept { std::swap(pointer_, other.pointer_); }

 private:
  void AddRefIfSet() noexcept {
    if (pointer_) pointer_->AddRef();
  }
  void ReleaseIfSet() noexcept {
    if (pointer_) pointer_->Release();
  }

  T* pointer_ = nullptr;
};

// The identity of an object behind any of its interfaces.
inline const IInterface* Identity(const IInterface* object) noexcept {
  return object;
}

template <class T, class U>
bool operator==(const TRef<T>& a, const TRef<U>& b) noexcept {
  return Identity(a.Get()) == Identity(b.Get());
}
template <class T>
bool operator==(const TRef<T>& a, std::nullptr_t) noexcept {
  return !a;
}

// "Does the object offer interface I": the one place where that question is asked.
template <class I, class T>
TRef<I> Supports(const TRef<T>& object) noexcept {
  return TRef<I>(dynamic_cast<I*>(object.Get()));
}
template <class I, class T>
TRef<I> Supports(T* object) noexcept {
  return TRef<I>(dynamic_cast<I*>(object));
}

// A constant that names an interface: its identifier in registry form and the test whether an
// object offers it, so that an interface can be passed around as a value.
struct TInterfaceId {
  std::string_view guid;
  bool (*offeredBy)(IInterface* object) noexcept;
};

template <class I>
constexpr TInterfaceId MakeInterfaceId(std::string_view guid) noexcept {
  return {guid, [](IInterface* object) noexcept { return dynamic_cast<I*>(object) != nullptr; }};
}

// Reference-counted implementation base. An instance starts with count 1, so that references
// taken and dropped while the constructors run cannot destroy it; New<T>() hands that first
// reference to its caller.
class TMyInterfacedObject : public virtual IInterface {
 public:
  TMyInterfacedObject(const TMyInterfacedObject&) = delete;
  TMyInterfacedObject& operator=(const TMyInterfacedObject&) = delete;

  std::int32_t AddRef() noexcept override;
  std::int32_t Release() noexcept override;

  std::int32_t RefCount() const noexcept { return count_.load(std::memory_order_acquire); }
  bool Destroying() const noexcept { return destroying_.load(std::memory_order_acquire); }

 protected:
  TMyInterfacedObject() noexcept = default;
  ~TMyInterfacedObject() override = default;

  // RefAdded runs after every increment. RefReleased runs once, with 0, just before
  // destruction: after any other decrement the releasing thread holds no reference, and
  // another thread may already be destroying the object.
  virtual void RefAdded(std::int32_t /*newCount*/) noexcept {}
  virtual void RefReleased(std::int32_t /*newCount*/) noexcept {}
  // Runs once when the last reference has gone, before the destructors: the object is still
  // whole, and references taken and dropped here do not destroy it again.
  virtual void BeforeDestruction() noexcept {}

 private:
  std::atomic<std::int32_t> count_{1};
  std::atomic<bool> destroying_{false};
};

// Creates an object and returns the reference it was born with.
template <class T, class... Args>
TRef<T> New(Args&&... args) {
  return TRef<T>::Adopt(new T(std::forward<Args>(args)...));
}

}  // namespace zorvid
