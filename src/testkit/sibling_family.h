#pragma once
// Test-only: a family of sibling messengers in one process. A parent and
// children share one pool and one publication directory; the test drives
// them by doing what each process's selector would do before it waits.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/fifo.h"
#include "io/sibling_messenger.h"
#include "os/owned_fd.h"

namespace testkit {

// What a selector does with one selectable: when its descriptor has news,
// tell it (ignoreSignal), then let it advance (poll).
void pollLikeASelector(io::Selectable& s);

// Lets the messengers do their I/O until nothing moves any more.
void pumpMessengers(const std::vector<io::SiblingMessenger*>& messengers);

class SiblingFamily {
 public:
  static constexpr std::uint64_t kPoolSize = 4 << 20;
  static constexpr std::uint64_t kDefaultAreaSize = 64 * 1024;

  SiblingFamily();
  ~SiblingFamily();
  SiblingFamily(const SiblingFamily&) = delete;
  SiblingFamily& operator=(const SiblingFamily&) = delete;

  [[nodiscard]] io::siblingmessenger_conf_t conf() const;
  // Collects the trace lines in `traces`.
  [[nodiscard]] io::SiblingMessenger::TraceSink sink();
  [[nodiscard]] bool traced(std::string_view fragment) const;

  [[nodiscard]] io::SiblingMessengerParent& parent() { return *parent_; }
  [[nodiscard]] io::SiblingMessenger& child(int id) { return *children_.at(id); }
  // Starts a child and lets the start-up handshake run.
  io::SiblingMessenger& startChild(int id);
  // The child goes away without a word.
  void dropChild(int id) { children_.erase(id); }
  // Every member does its I/O until nothing moves.
  void pump();

  // The parent's decisions: every request is recorded and answered with
  // `grant`; area sizes come from `areaSizes` or the default.
  std::vector<std::pair<int, int>> requests;
  bool grant = true;
  std::map<int, std::uint64_t> areaSizes;
  std::vector<std::string> traces;

 private:
  std::string dir_;
  os::OwnedFd pool_;
  std::unique_ptr<io::SiblingMessengerParent> parent_;
  std::map<int, std::unique_ptr<io::SiblingMessenger>> children_;
};

}  // namespace testkit
