#include "queues/event.h"

#include <ostream>
#include <sstream>

namespace queues {

void event::print(std::ostream& out, int depth) const {
  out << std::string(2 * static_cast<std::size_t>(depth), ' ');
  printBlock(out, depth);
  out << '\n';
}

void event::printBlock(std::ostream& out, int depth) const {
  const std::string prefix(2 * static_cast<std::size_t>(depth), ' ');
  out << eventName(type) << " {\n";
  out << prefix << "  dest: " << queueName(dest) << '\n';
  out << prefix << "  inresponse: " << static_cast<std::int32_t>(inresponse) << '\n';
  printData(out, depth + 1);
  out << prefix << '}';
}

std::string event::toString() const {
  std::ostringstream text;
  print(text, 0);
  return text.str();
}

std::ostream& operator<<(std::ostream& out, const event& ev) {
  ev.print(out, 0);
  return out;
}

}  // namespace queues
