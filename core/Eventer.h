#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <tuple>
#include <vector>

#include "core/Handler.h"
#include "core/MyInterfacedObject.h"
#include "core/ReadWriteLock.h"

namespace zorvid {

// A thread-safe multicast event: Fire calls every subscribed handler, synchronously, in the
// firing thread, in subscription order. Handlers may subscribe and unsubscribe at any time,
// also from inside a handler or from another thread during a fire. One handler is never
// called by two threads at once: a fire that reaches a handler another thread is calling
// waits for it in 10 ms steps. Removed entries are compacted lazily by the fires themselves.
//
// A handler that fires its own eventer again on the same thread (a nested fire) does not wait
// for itself: the nested fire skips the entries its own thread is calling and goes on with
// the rest, so a handler is never re-entered and the nested fire cannot hang.
class TEventer {
 public:
  TEventer() = default;
  TEventer(const TEventer&) = delete;
  TEventer& operator=(const TEventer&) = delete;
  virtual ~TEventer() = default;

  void Add(const TMethod& handler);
  void Remove(const TMethod& handler);
  void Clear();
  bool IsFiring() const;

  // Begins destruction: Fire and Add do nothing from here on. Called by the typed eventers'
  // destructors while the object is still whole.
  void Shutdown();

 protected:
  void Fire(const void* argument);
  // Calls the handler with the argument that the typed fire packed.
  virtual void CallHandler(const TMethod& handler, const void* argument) = 0;

 private:
  struct TEntry {
    bool active = false;
    TMethod handler;
    bool busy = false;
    std::thread::id caller;  // the thread calling the handler while busy
  };
  enum class TAdvance { Call, Busy, End };

  std::ptrdiff_t FindLast(const TMethod& handler) const;
  TAdvance Advance(std::size_t& index, TMethod& handler);
  void FinishCall(std::size_t index);

  mutable TReentrantReadWriteLock lock_;
  std::vector<TEntry> entries_;  // guarded by lock_
  int firing_ = 0;               // fires in progress on all threads; guarded by lock_
  std::atomic<bool> destroying_{false};
};

// An eventer with a fixed handler signature. The arguments of a fire are packed by value, so
// an interface argument (a TRef) is kept alive for the whole fire.
template <class... Args>
class TTypedEventer : public TEventer {
 public:
  using THandlerType = THandler<Args...>;

  ~TTypedEventer() override { Shutdown(); }

  void Add(const THandlerType& handler) { TEventer::Add(handler.Method()); }
  void Remove(const THandlerType& handler) { TEventer::Remove(handler.Method()); }
  void Fire(Args... args) {
    const std::tuple<Args...> packed(std::move(args)...);
    TEventer::Fire(&packed);
  }

 protected:
  void CallHandler(const TMethod& handler, const void* argument) override {
    std::apply(THandlerType::FromMethod(handler),
               *static_cast<const std::tuple<Args...>*>(argument));
  }
};

// A descendant node was added to or removed from the tree below a node, `level` steps down.
class TeventerDescentEvent final : public TTypedEventer<TRef<IInterface>, std::int32_t> {};

}  // namespace zorvid
