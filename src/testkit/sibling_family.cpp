#include "testkit/sibling_family.h"

#include <algorithm>

#include "io/shared_memory.h"
#include "os/poll.h"
#include "os/temp_dir.h"

namespace testkit {

void pollLikeASelector(io::Selectable& s) {
  const io::OsHandle h = s.handle();
  if (h.valid() && h.events != 0) {
    os::PollSlot slot{h.fd, h.events, 0};
    if (os::pollFor({&slot, 1}, 0).outcome == os::PollResult::ready && slot.revents != 0) {
      (void)s.ignoreSignal();
    }
  }
  s.poll();
}

void pumpMessengers(const std::vector<io::SiblingMessenger*>& messengers) {
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

SiblingFamily::SiblingFamily()
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

SiblingFamily::~SiblingFamily() {
  children_.clear();
  parent_.reset();
  os::removeDirectoryTree(dir_);
}

io::siblingmessenger_conf_t SiblingFamily::conf() const {
  io::siblingmessenger_conf_t c;
  c.mapfile = pool_.get();
  c.fifoprefix = dir_ + "/smem";
  c.mapsize = static_cast<std::uint32_t>(kPoolSize);
  return c;
}

io::SiblingMessenger::TraceSink SiblingFamily::sink() {
  return [this](std::string_view line) { traces.emplace_back(line); };
}

bool SiblingFamily::traced(std::string_view fragment) const {
  return std::any_of(traces.begin(), traces.end(),
                     [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
}

io::SiblingMessenger& SiblingFamily::startChild(int id) {
  children_[id] = std::make_unique<io::SiblingMessenger>(id, conf(), sink());
  pump();
  return child(id);
}

void SiblingFamily::pump() {
  std::vector<io::SiblingMessenger*> all{parent_.get()};
  for (auto& [id, c] : children_) all.push_back(c.get());
  pumpMessengers(all);
}

}  // namespace testkit
