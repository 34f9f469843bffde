#pragma once
// Test-only: a family of sibling messengers in one process. A parent and
// children share one pool and one publication directory; the test drives
// them by doing what each process's selector would do before it waits.
// Header-only, so that fuzz targets can use it too.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "io/fifo.h"
#include "io/shared_memory.h"
#include "io/sibling_messenger.h"
#include "os/owned_fd.h"
#include "os/poll.h"
#include "os/temp_dir.h"

namespace testkit {

// What a selector does with one selectable: when its descriptor has news,
// tell it (ignoreSignal), then let it advance (poll).
inline void pollLikeASelector(io::Selectable& s) {
  const io::OsHandle h = s.handle();
  if (h.valid() && h.events != 0) {
    os::PollSlot slot{h.fd, h.events, 0};
    if (os::pollFor({&slot, 1}, 0).outcome == os::PollResult::ready && slot.revents != 0) {
      (void)s.ignoreSignal();
    }
  }
  s.poll();
}

// Lets the messengers do their I/O until nothing moves any more.
inline void pumpMessengers(const std::vector<io::SiblingMessenger*>& messengers) {
  for (int round = 0; round < 100; ++round) {
    bool moved = false;
    for (io::SiblingMessenger* m : messengers) {
      const std::vector<io::Selectable*> under = m->underlying();
      for (io::Selectable* u : under) {
        const auto& now = m->underlying();
        if (std::find(now.begin(), now.end(), u) == now.end()) continue;
        pollLikeASelector(*u);
        if (u->isReady()) {
          m->underlyingIsReady(u);
          moved = true;
        }
      }
    }
    if (!moved) return;
  }
}

class SiblingFamily {
 public:
  static constexpr std::uint64_t kPoolSize = 4 << 20;
  static constexpr std::uint64_t kDefaultAreaSize = 64 * 1024;

  SiblingFamily()
      : dir_(os::makeTemporaryDirectory("hx-messenger")),
        pool_(io::createSharedMemoryPool(kPoolSize)) {
    io::SiblingMessengerParent::Decisions decisions;
    decisions.messageToNonexistantSibling = [this](int requested, int requester) {
      requests.emplace_back(requested, requester);
      return grant;
    };
    decisions.areaSize = [this](int id) {
      const auto it = areaSizes.find(id);
      return it == areaSizes.end() ? kDefaultAreaSize : it->second;
    };
    parent_ = std::make_unique<io::SiblingMessengerParent>(conf(), std::move(decisions), sink());
  }
  ~SiblingFamily() {
    children_.clear();
    parent_.reset();
    os::removeDirectoryTree(dir_);
  }
  SiblingFamily(const SiblingFamily&) = delete;
  SiblingFamily& operator=(const SiblingFamily&) = delete;

  [[nodiscard]] io::siblingmessenger_conf_t conf() const {
    io::siblingmessenger_conf_t c;
    c.mapfile = pool_.get();
    c.fifoprefix = dir_ + "/smem";
    c.mapsize = static_cast<std::uint32_t>(kPoolSize);
    return c;
  }
  // Collects the trace lines in `traces`.
  [[nodiscard]] io::SiblingMessenger::TraceSink sink() {
    return [this](std::string_view line) { traces.emplace_back(line); };
  }
  [[nodiscard]] bool traced(std::string_view fragment) const {
    return std::any_of(traces.begin(), traces.end(),
                       [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
  }

  [[nodiscard]] io::SiblingMessengerParent& parent() { return *parent_; }
  [[nodiscard]] io::SiblingMessenger& child(int id) { return *children_.at(id); }
  // Starts a child and lets the start-up handshake run.
  io::SiblingMessenger& startChild(int id) {
    children_[id] = std::make_unique<io::SiblingMessenger>(id, conf(), sink());
    pump();
    return child(id);
  }
  // The child goes away without a word.
  void dropChild(int id) { children_.erase(id); }
  // Every member does its I/O until nothing moves.
  void pump() {
    std::vector<io::SiblingMessenger*> all{parent_.get()};
    for (auto& [id, c] : children_) all.push_back(c.get());
    pumpMessengers(all);
  }

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
