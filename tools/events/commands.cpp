#include "events/commands.h"

#include <string>
#include <utility>
#include <vector>

#include "error/exception.h"
#include "events/event_json.h"
#include "io/exceptions.h"
#include "io/memory_stream.h"
#include "queues/ioprim.h"

namespace events {

namespace {

// Hands the reader one byte at a time and counts what it consumed. The event
// reader commits an area as soon as it has read it to its end, so with
// one-byte areas the count is exactly the offset of the next unread byte,
// which is what an error message needs to point at the bad event.
class ByteCountingIStream : public io::IStream {
 public:
  explicit ByteCountingIStream(io::IStream& inner) : inner_(inner) {}

  std::string name() const override { return inner_.name(); }
  io::OsHandle handle() const override { return inner_.handle(); }
  bool isReady() override { return inner_.isReady(); }
  bool ignoreSignal() override { return inner_.ignoreSignal(); }
  void poll() override { inner_.poll(); }

  std::size_t readBegin(const std::uint8_t*& data) override {
    return inner_.readBegin(data) > 0 ? 1 : 0;
  }
  void readCommit(std::size_t n) override {
    inner_.readCommit(n);
    consumed_ += n;
  }
  void close() override { inner_.close(); }

  std::uint64_t consumed() const { return consumed_; }

 private:
  io::IStream& inner_;
  std::uint64_t consumed_ = 0;
};

std::string where(const std::string& inputName, std::uint64_t offset, std::size_t number) {
  return inputName + ": byte " + std::to_string(offset) + " (event " + std::to_string(number) +
         "): ";
}

void printOne(const queues::event& ev, std::size_t index, std::ostream& out, PrintFormat format) {
  if (format == PrintFormat::json) {
    out << (index == 0 ? "[\n  " : ",\n  ") << eventToJson(ev).dump();
  } else {
    if (index > 0) out << '\n';
    ev.print(out, 0);
  }
  out.flush();
}

void finish(std::size_t count, std::ostream& out, PrintFormat format) {
  if (format != PrintFormat::json) return;
  out << (count == 0 ? "[]\n" : "\n]\n");
  out.flush();
}

// Each level of event data that the reader counts takes at most a few levels
// of JSON (an object, an array of children, a nested event and its data), so
// a document nested deeper than this is refused before it is walked, and the
// walk cannot run out of stack.
constexpr std::size_t kMaxJsonDepth = 8 * queues::kMaxReadNesting;

void refuseDeepNesting(const Json& document) {
  // Depth-first without recursion: the document itself may be arbitrarily deep.
  std::vector<std::pair<const Json*, std::string>> stack{{&document, ""}};
  std::vector<std::size_t> depths{1};
  while (!stack.empty()) {
    auto [value, pointer] = std::move(stack.back());
    const std::size_t depth = depths.back();
    stack.pop_back();
    depths.pop_back();
    if (depth > kMaxJsonDepth) {
      // The place is named by its first steps: the whole pointer is as deep.
      constexpr std::size_t kShown = 60;
      throw EJsonInput(pointer.size() > kShown ? pointer.substr(0, kShown) + "..." : pointer,
                       "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    }
    if (value->is_object()) {
      for (const auto& item : value->items()) {
        stack.emplace_back(&item.value(), childPointer(pointer, item.key()));
        depths.push_back(depth + 1);
      }
    } else if (value->is_array()) {
      for (std::size_t i = 0; i < value->size(); ++i) {
        stack.emplace_back(&(*value)[i], childPointer(pointer, i));
        depths.push_back(depth + 1);
      }
    }
  }
}

// Refuses an event that the event reader would refuse (data nested too
// deeply), by writing it to memory and reading it back.
void checkReadable(const queues::event& ev, const std::string& pointer) {
  io::MemoryPipe pipe;
  io::MemoryOStream out(pipe);
  queues::ioprim writer(nullptr, &out);
  writer.writeEvent(ev);
  writer.flush();
  pipe.closeWriter();
  io::MemoryIStream in(pipe);
  queues::ioprim reader(&in, nullptr);
  try {
    static_cast<void>(reader.readEvent());
  } catch (const error::EParseError& e) {
    throw EJsonInput(pointer, "the event reader would refuse this event: " + e.text());
  }
}

}  // namespace

std::size_t printEvents(io::IStream& in, const std::string& inputName, std::ostream& out,
                        PrintFormat format) {
  ByteCountingIStream counted(in);
  queues::ioprim reader(&counted, nullptr);
  // Malformed framing is an error of the input here, not of this program.
  reader.throwOnBadEventForTest(true);
  std::size_t count = 0;
  for (;;) {
    const std::uint64_t start = counted.consumed();
    queues::EventPtr ev;
    try {
      ev = reader.readEvent();
    } catch (const io::EEndOfStream&) {
      finish(count, out, format);
      if (counted.consumed() == start) return count;
      throw EBadInput(where(inputName, start, count + 1) + "input ends inside the event, after " +
                      std::to_string(counted.consumed() - start) + " of its bytes");
    } catch (const error::Exception& e) {
      finish(count, out, format);
      // Where inside the event reading stopped, when it got past the start.
      const std::uint64_t stop = counted.consumed();
      throw EBadInput(where(inputName, start, count + 1) + e.text() +
                      (stop > start ? " (read up to byte " + std::to_string(stop) + ")" : ""));
    }
    printOne(*ev, count, out, format);
    ++count;
  }
}

std::size_t encodeEvents(const std::string& document, const std::string& documentName,
                         io::OStream& out) {
  Json parsed;
  try {
    parsed = Json::parse(document);
  } catch (const Json::parse_error& e) {
    std::string text = e.what();
    // "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
    if (const auto end = text.find("] "); text.starts_with("[json.") && end != std::string::npos) {
      text.erase(0, end + 2);
    }
    throw EBadInput(documentName + ": " + text);
  }
  std::vector<queues::EventPtr> events;
  try {
    refuseDeepNesting(parsed);
    if (parsed.is_array()) {
      for (std::size_t i = 0; i < parsed.size(); ++i) {
        events.push_back(eventFromJson(parsed[i], childPointer("", i)));
        checkReadable(*events.back(), childPointer("", i));
      }
    } else {
      events.push_back(eventFromJson(parsed, ""));
      checkReadable(*events.back(), "");
    }
  } catch (const EJsonInput& e) {
    throw EBadInput(documentName + ": " + e.text());
  }
  queues::ioprim writer(nullptr, &out);
  for (const queues::EventPtr& ev : events) writer.writeEvent(*ev);
  writer.flush();
  return events.size();
}

}  // namespace events
