#pragma once
// Exceptions of the I/O layer: a stream that ended, a selectable that was
// asked for without waiting and was not ready, a missing sibling connection.
#include <string>

#include "error/exception.h"

namespace io {

class EEndOfStream : public error::Exception {
 public:
  explicit EEndOfStream(std::string name, std::string reason = {})
      : name_(std::move(name)), reason_(std::move(reason)) {}
  std::string text() const override {
    std::string t = "EOS from " + name_;
    if (!reason_.empty()) t += " (" + reason_ + ")";
    return t;
  }
  [[nodiscard]] const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::string reason_;
};

class ENotReady : public error::Exception {
 public:
  explicit ENotReady(std::string name = {}) : name_(std::move(name)) {}
  std::string text() const override {
    return "Selectable " + (name_.empty() ? std::string("<unknown>") : name_) + " not ready";
  }

 private:
  std::string name_;
};

class ENoConnection : public error::Exception {
 public:
  std::string text() const override { return "No connection to other SiblingMessenger"; }
};

}  // namespace io
