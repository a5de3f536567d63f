#pragma once

#include <stdexcept>
#include <string>

namespace zorvid {

// Text that could not be converted to the value it should hold (a GUID, a number, a boolean).
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace zorvid
