// Exceptions of the runtime layer. Everything else in Quire reports failure by
// result code; these are the few failures that reach callers as exceptions:
// text that cannot be converted (EConvertError, also thrown by the binding for
// malformed UNID text), a named shared-memory block that cannot be created
// (ESharedMemoryError) and a string-list index out of range (EListError, a
// programming error). All derive from standard exceptions so callers can catch
// them generically; what() carries the complete message.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "rtl/Export.h"

namespace rtl {

// Text that does not denote a value of the wanted type.
class QUIRE_API EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;

  // "'x' is not a valid integer value": the message for malformed numeric text.
  static EConvertError InvalidInteger(std::string_view text) {
    return EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
};

// A named shared-memory block could not be created, opened or mapped.
// Code() is the errno value that the message also shows.
class QUIRE_API ESharedMemoryError : public std::runtime_error {
 public:
  ESharedMemoryError(const std::string& message, int code)
      : std::runtime_error(message), code_(code) {}
  int Code() const noexcept { return code_; }

 private:
  int code_;
};

// An index outside 0..Count()-1 was given to a TStringList.
class QUIRE_API EListError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

}  // namespace rtl
