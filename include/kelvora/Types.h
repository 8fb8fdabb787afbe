// Basic types shared by every unit: the root object, date-times, notify events
// and the exception classes the framework raises.
#pragma once

#include "kelvora/kelvora_export.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace kelvora {

// Root of the object tree. Objects are polymorphic so that event senders and
// Assign sources can be tested for their class with dynamic_cast.
class KELVORA_EXPORT TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

using TNotifyEvent = std::function<void(TObject* Sender)>;

// Base of every error the framework and the units raise.
class KELVORA_EXPORT Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  std::string Message() const { return what(); }
};

class KELVORA_EXPORT EListError : public Exception { using Exception::Exception; };
class KELVORA_EXPORT EStringListError : public EListError { using EListError::EListError; };
class KELVORA_EXPORT EStreamError : public Exception { using Exception::Exception; };
class KELVORA_EXPORT EFOpenError : public EStreamError { using EStreamError::EStreamError; };
class KELVORA_EXPORT EFCreateError : public EStreamError { using EStreamError::EStreamError; };
class KELVORA_EXPORT EReadError : public EStreamError { using EStreamError::EStreamError; };
class KELVORA_EXPORT EWriteError : public EStreamError { using EStreamError::EStreamError; };
class KELVORA_EXPORT EConvertError : public Exception { using Exception::Exception; };
class KELVORA_EXPORT EOutOfResources : public Exception { using Exception::Exception; };
class KELVORA_EXPORT EInvalidOperation : public Exception { using Exception::Exception; };

}  // namespace kelvora
