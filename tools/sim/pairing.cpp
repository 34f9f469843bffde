#include "sim/pairing.h"

#include <utility>

namespace sim {

void ChangePairing::incident(const Incident& incident) { incident_ = incident; }

void ChangePairing::stored(const tql::id_t& object) {
  std::optional<Incident> incident = std::exchange(incident_, std::nullopt);
  for (Waiting& w : waiting_) {
    if (!w.complete && w.change.object == object) {
      complete(w, incident);
      return;
    }
  }
  stored_[object].push_back(std::move(incident));
}

void ChangePairing::change(const StatusChange& change, const tql::id_t& node) {
  Waiting& w = waiting_.emplace_back(Waiting{change, node});
  const auto it = stored_.find(change.object);
  if (it == stored_.end()) return;
  complete(w, it->second.front());
  it->second.pop_front();
  if (it->second.empty()) stored_.erase(it);
}

void ChangePairing::complete(Waiting& waiting, const std::optional<Incident>& incident) {
  waiting.complete = true;
  if (incident && incident->host == waiting.node) waiting.change.incident = incident->text;
}

std::vector<StatusChange> ChangePairing::ready() {
  std::vector<StatusChange> out;
  while (!waiting_.empty() && waiting_.front().complete) {
    out.push_back(std::move(waiting_.front().change));
    waiting_.pop_front();
  }
  return out;
}

std::vector<StatusChange> ChangePairing::flush() {
  std::vector<StatusChange> out;
  for (Waiting& w : waiting_) out.push_back(std::move(w.change));
  waiting_.clear();
  return out;
}

}  // namespace sim
