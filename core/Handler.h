#pragma once

#include <array>
#include <cstddef>
#include <cstring>

namespace zorvid {

// A handler with its argument types erased: the bound context object, the target function
// (a member-function or plain function pointer, kept as bytes) and the trampoline that calls
// it. Two handlers are the same when context and function are the same, so subscribing twice
// and unsubscribing work by identity.
struct TMethod {
  const void* context = nullptr;
  void (*invoker)() = nullptr;
  std::array<std::byte, 2 * sizeof(void*)> target{};

  explicit operator bool() const noexcept { return invoker != nullptr; }
  friend bool operator==(const TMethod&, const TMethod&) = default;
};

// A comparable bound callable with a fixed signature.
template <class... Args>
class THandler {
 public:
  THandler() = default;

  template <class C>
  THandler(C* object, void (C::*method)(Args...)) {
    Bind(object, method, &InvokeMember<C>);
  }
  // A plain function that receives its context object first.
  template <class C>
  THandler(C* context, void (*function)(C*, Args...)) {
    Bind(context, function, &InvokeFunction<C>);
  }

  static THandler FromMethod(const TMethod& method) {
    THandler handler;
    handler.method_ = method;
    return handler;
  }
  const TMethod& Method() const noexcept { return method_; }
  explicit operator bool() const noexcept { return static_cast<bool>(method_); }
  friend bool operator==(const THandler&, const THandler&) = default;

  void operator()(Args... args) const {
    reinterpret_cast<TInvoker>(method_.invoker)(method_, args...);
  }

 private:
  using TInvoker = void (*)(const TMethod&, Args...);

  template <class C, class F>
  void Bind(C* context, F function, TInvoker invoker) {
    static_assert(sizeof(F) <= sizeof(TMethod::target), "function pointer too large to bind");
    method_.context = context;
    method_.invoker = reinterpret_cast<void (*)()>(invoker);
    std::memcpy(method_.target.data(), &function, sizeof function);
  }
  template <class F>
  static F Target(const TMethod& method) {
    F function;
    std::memcpy(&function, method.target.data(), sizeof function);
    return function;
  }
  template <class C>
  static void InvokeMember(const TMethod& method, Args... args) {
    auto* object = static_cast<C*>(const_cast<void*>(method.context));
    (object->*Target<void (C::*)(Args...)>(method))(args...);
  }
  template <class C>
  static void InvokeFunction(const TMethod& method, Args... args) {
    auto* context = static_cast<C*>(const_cast<void*>(method.context));
    Target<void (*)(C*, Args...)>(method)(context, args...);
  }

  TMethod method_;
};

}  // namespace zorvid
