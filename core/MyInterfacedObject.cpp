#include "core/MyInterfacedObject.h"

namespace zorvid {

std::int32_t TMyInterfacedObject::AddRef() noexcept {
  const std::int32_t result = count_.fetch_add(1, std::memory_order_relaxed) + 1;
  RefAdded(result);
  return result;
}

std::int32_t TMyInterfacedObject::Release() noexcept {
  const std::int32_t result = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  // Unless this was the last reference, the caller holds none any more: another thread may
  // destroy the object at any moment, so it must not be touched again.
  if (result != 0 || destroying_.exchange(true, std::memory_order_acq_rel)) return result;
  RefReleased(0);
  BeforeDestruction();
  delete this;
  return 0;
}

}  // namespace zorvid
