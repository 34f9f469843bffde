#pragma once
// The exception family for what can go wrong from outside: malformed input, a
// peer's error, a failed system call. Each carries the text a person reads.
#include <string>

namespace error {

class Exception {
 public:
  virtual ~Exception() = default;
  virtual std::string text() const = 0;
};

// An exception whose text is one fixed message.
class MessageException : public Exception {
 public:
  explicit MessageException(std::string message) : message_(std::move(message)) {}
  std::string text() const override { return message_; }

 private:
  std::string message_;
};

// A malformed object tree or an unexpected event.
class EFatal : public MessageException {
 public:
  using MessageException::MessageException;
};

class ERange : public MessageException {
 public:
  using MessageException::MessageException;
};

class EParseError : public MessageException {
 public:
  using MessageException::MessageException;
};

class ESystemError : public MessageException {
 public:
  using MessageException::MessageException;
};

class EFileNotFoundError : public ESystemError {
 public:
  using ESystemError::ESystemError;
};

class EFileExistsError : public ESystemError {
 public:
  using ESystemError::ESystemError;
};

}  // namespace error
