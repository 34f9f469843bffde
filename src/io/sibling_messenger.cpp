#include "io/sibling_messenger.h"

#include <deque>
#include <iostream>
#include <list>
#include <map>
#include <set>
#include <sstream>

#include "error/check.h"
#include "htime/usec_time.h"
#include "io/area_table.h"
#include "io/control_message.h"
#include "io/exceptions.h"
#include "io/fifo.h"
#include "io/pipe_stream.h"
#include "io/process_watch.h"
#include "io/shared_memory.h"
#include "io/write_area.h"

namespace io {

namespace {

std::string str(std::int64_t v) { return std::to_string(v); }

constexpr int kParentId = 0;
// Every sibling id, the own one included, lies in this range.
constexpr int kMinSiblingId = -127;
constexpr int kMaxSiblingId = 128;

std::string timePrefix() { return htime::calendarText(htime::now().sec) + " "; }

// A sink that opens every line with the time, for the helpers that trace
// plain lines.
SiblingMessenger::TraceSink timed(SiblingMessenger::TraceSink sink) {
  if (!sink) return {};
  return
      [sink = std::move(sink)](std::string_view line) { sink(timePrefix() + std::string(line)); };
}

}  // namespace

// What only the main process has: the table of write areas, the shutdowns
// in progress and the main process's two decisions.
struct SiblingMessenger::ParentRole {
  ParentRole(std::uint64_t mapsize, SiblingMessengerParent::Decisions d, TraceSink trace)
      : areas(SiblingMessengerParent::kFirstAreaOffset, mapsize, timed(std::move(trace))),
        decisions(std::move(d)) {}
  AreaTable areas;
  SiblingMessengerParent::Decisions decisions;
  // For each sibling that announced its shutdown: the siblings whose
  // acknowledgement is still awaited.
  std::map<int, std::set<int>> awaited;
};

// ---------------------------------------------------------------------------
// One known sibling.

class SiblingMessenger::Sibling {
 public:
  // Reads the messages this sibling put in its write area for us.
  class SiblingIStream : public IStream, public StackedSelectableFront {
   public:
    SiblingIStream(Sibling& sibling, StackedSelectableBack* back)
        : StackedSelectableFront(back), sibling_(sibling) {}
    [[nodiscard]] std::string name() const override {
      return "SiblingIStream[" + str(sibling_.id) + "]";
    }
    [[nodiscard]] bool isReady() override { return StackedSelectableFront::isReady(); }
    void addSelector(SelectorBase* s) override { StackedSelectableFront::addSelector(s); }
    void removeSelector(SelectorBase* s) override { StackedSelectableFront::removeSelector(s); }
    [[nodiscard]] std::size_t readBegin(const std::uint8_t*& data) override;
    void readCommit(std::size_t n) override;
    void close() override {}

   private:
    Sibling& sibling_;
  };

  // Writes messages for this sibling into the own write area.
  class SiblingOStream : public OStream, public StackedSelectableFront {
   public:
    SiblingOStream(Sibling& sibling, StackedSelectableBack* back)
        : StackedSelectableFront(back), sibling_(sibling) {}
    [[nodiscard]] std::string name() const override {
      return "SiblingOStream[" + str(sibling_.id) + "]";
    }
    [[nodiscard]] bool isReady() override { return StackedSelectableFront::isReady(); }
    void addSelector(SelectorBase* s) override { StackedSelectableFront::addSelector(s); }
    void removeSelector(SelectorBase* s) override { StackedSelectableFront::removeSelector(s); }
    [[nodiscard]] std::size_t writeBegin(std::uint8_t*& data) override;
    void writeCommit(std::size_t n) override;
    [[nodiscard]] bool flush() override;
    void close() override {}

   private:
    Sibling& sibling_;
  };

  // The write end of the sibling's input pipe.
  class OutputSignalWriter : public PipeOStream {
   public:
    explicit OutputSignalWriter(Sibling& sibling)
        : PipeOStream("OutputSignalWriter[" + str(sibling.id) + "]"), sibling_(sibling) {}
    [[nodiscard]] Sibling& sibling() const { return sibling_; }

   private:
    Sibling& sibling_;
  };

  Sibling(Impl& impl, int sibling_id, StackedSelectableBack* back)
      : m(impl), id(sibling_id), writer(*this), istream(*this, back), ostream(*this, back) {}

  Impl& m;
  const int id;
  int refcount = 0;
  bool pipe_open = false;
  bool failed = false;
  bool pending_shutdown_ack = false;
  bool shutdown_complete = false;
  // The null message for this sibling was put on the received list.
  bool ended = false;
  // A RequestPeer for it went to the parent and no answer came yet.
  bool requested = false;
  // Messages waiting in the received list from this sibling.
  std::size_t waiting = 0;
  // Bytes of the first waiting message already read.
  std::uint64_t consumed = 0;
  std::deque<ControlMessage> unordered;
  // Announcements that found no pipe; delivered once it opens.
  std::deque<std::uint64_t> queued_offsets;
  OutputSignalWriter writer;
  std::unique_ptr<ProcessWatch> watch;
  SiblingIStream istream;
  SiblingOStream ostream;
};

// ---------------------------------------------------------------------------
// The messenger's state.

struct SiblingMessenger::Impl : WriteAreaListener {
  // The own input pipe.
  class InputSignalReader : public PipeIStream {
   public:
    InputSignalReader() : PipeIStream("InputSignalReader") {}
  };

  class NamedFront : public StackedSelectableFront {
   public:
    NamedFront(StackedSelectableBack* back, std::string name)
        : StackedSelectableFront(back), name_(std::move(name)) {}
    [[nodiscard]] std::string name() const override { return name_; }

   private:
    std::string name_;
  };

  struct Received {
    int sender;
    std::uint64_t offset;  // 0: the null message, the end of the sender's stream
    std::uint64_t len;
  };
  struct ShutdownState {
    bool acknowledged;
    bool completed;
  };
  struct AreaBounds {
    std::uint64_t start;
    std::uint64_t size;
  };

  Impl(SiblingMessenger& self, int my_id, const siblingmessenger_conf_t& conf, TraceSink trace,
       std::unique_ptr<ParentRole> parent);
  ~Impl() override;

  // --- tracing
  [[nodiscard]] bool tracing() const { return static_cast<bool>(trace_); }
  void trace(const std::string& line) const {
    if (!trace_) return;
    trace_(timePrefix() + line);
  }

  // --- siblings
  Sibling& sibling(int id);
  [[nodiscard]] Sibling* find(int id) const;
  void updateIStream(Sibling& s);
  void updateOStream(Sibling& s);
  void updateAllOStreams();
  void updateSomeSibling() { some_sibling.setReady(!received.empty()); }

  // --- write area listener
  void announce(int destination, std::uint64_t offset) override;
  void setStreamsReady(bool ready) override {
    area_has_room = ready;
    updateAllOStreams();
  }

  // --- sending
  void send(int to, std::initializer_list<ControlMessage> msgs);
  void sendQuietly(int to, std::initializer_list<ControlMessage> msgs);
  void sendTriple(int to, std::uint64_t start, std::uint64_t size, int about);
  [[nodiscard]] ControlMessage make(MessageType t, std::int64_t value) const {
    return ControlMessage::make(t, value, my_id);
  }
  void writeTo(int to);
  bool handOver();
  void drain();
  void watchWriter(Sibling& s, bool on);
  void writerReady(Sibling& s);

  // --- connections
  void openPipe(Sibling& s);
  void closePipe(Sibling& s);
  void deliverQueued(Sibling& s);
  void shutdownComms(Sibling& s);
  void appendNull(Sibling& s);
  void siblingGone(int id);
  void freeOutstandingTo(int id, const char* why);
  void recheckOwnShutdown();
  void checkPendingShutdownAck(Sibling& s);

  // --- receiving
  void readInput();
  void dispatch(const ControlMessage& msg);
  void onMessageAt(const ControlMessage& msg);
  void onAckMessageAt(const ControlMessage& msg);
  void onSiblingAt(const ControlMessage& msg);
  void onRequestPeer(const ControlMessage& msg);
  void onIAmUp(const ControlMessage& msg);
  void onInitShutdown(const ControlMessage& msg);
  void onAckShutdown(const ControlMessage& msg);
  void onSiblingDied(const ControlMessage& msg);
  void letExit(int z, const char* how);

  SiblingMessenger& self;
  const int my_id;
  std::string fifoprefix;
  TraceSink trace_;
  std::unique_ptr<ParentRole> parent;
  std::unique_ptr<SharedMemory> pool;
  bool area_known = false;
  bool area_has_room = false;
  std::unique_ptr<WriteArea> area;
  std::map<int, AreaBounds> write_areas;
  std::map<int, std::unique_ptr<Sibling>> siblings;
  std::deque<std::pair<int, ControlMessage>> ordered;
  // The sibling whose pipe writer holds bytes not yet taken by the kernel.
  std::optional<int> unflushed;
  std::set<int> watched;
  std::list<Received> received;
  std::vector<ControlMessage> extras;
  std::optional<ShutdownState> shutdown;
  InputSignalReader reader;
  os::OwnedFd own_write_end;  // keeps the published write end alive
  std::uint8_t partial[ControlMessage::kSize] = {};
  std::size_t partial_len = 0;
  std::deque<int> new_siblings;
  NamedFront some_sibling;
  NamedFront new_siblings_front;
};

SiblingMessenger::Impl::Impl(SiblingMessenger& s, int id, const siblingmessenger_conf_t& conf,
                             TraceSink trace_sink, std::unique_ptr<ParentRole> parent_role)
    : self(s),
      my_id(id),
      fifoprefix(conf.fifoprefix),
      trace_(std::move(trace_sink)),
      parent(std::move(parent_role)),
      some_sibling(&s, "SomeSibling"),
      new_siblings_front(&s, "NewSiblings") {
  HX_CHECK(my_id >= kMinSiblingId && my_id <= kMaxSiblingId, "my_sibling_id is out of range.");
  pool = std::make_unique<SharedMemory>(conf.mapfile, conf.mapsize);
  InputFifo fifo = setupFifo(publicationPath(conf.fifoprefix, my_id));
  reader.setHandle(std::move(fifo.readEnd));
  own_write_end = std::move(fifo.writeEnd);
  self.setUnderlying(&reader, true);
}

SiblingMessenger::Impl::~Impl() {
  // Take every underlying selectable off the selectors while all of them
  // still exist; the fronts leave afterwards.
  while (!self.underlying().empty()) self.setUnderlying(self.underlying().front(), false);
}

SiblingMessenger::Sibling& SiblingMessenger::Impl::sibling(int id) {
  auto& slot = siblings[id];
  if (!slot) {
    slot = std::make_unique<Sibling>(*this, id, &self);
    updateOStream(*slot);
  }
  return *slot;
}

SiblingMessenger::Sibling* SiblingMessenger::Impl::find(int id) const {
  const auto it = siblings.find(id);
  return it == siblings.end() ? nullptr : it->second.get();
}

void SiblingMessenger::Impl::updateIStream(Sibling& s) {
  s.istream.setReady(s.waiting > 0 || s.failed);
}

void SiblingMessenger::Impl::updateOStream(Sibling& s) {
  bool ready = false;
  if (s.failed) {
    ready = true;  // a write reports the failure at once
  } else if (shutdown && shutdown->completed) {
    ready = false;
  } else {
    ready = area_known && area_has_room && !s.pending_shutdown_ack;
  }
  s.ostream.setReady(ready);
}

void SiblingMessenger::Impl::updateAllOStreams() {
  for (auto& [id, s] : siblings) updateOStream(*s);
}

// --- sending ----------------------------------------------------------------

void SiblingMessenger::Impl::send(int to, std::initializer_list<ControlMessage> msgs) {
  Sibling* s = find(to);
  if (s == nullptr || !s->pipe_open) {
    HX_CHECK(to != my_id, "We could not write ourselves");
    if (tracing())
      trace("ID " + str(my_id) + " has no pipe to " + str(to) + " for " + msgs.begin()->toString());
    throw ENoConnection();
  }
  for (const ControlMessage& msg : msgs) {
    if (msg.type() == MessageType::AckMessageAt) {
      s->unordered.push_back(msg);
    } else {
      ordered.emplace_back(to, msg);
    }
  }
  if (!unflushed || *unflushed == to) writeTo(to);
}

void SiblingMessenger::Impl::sendQuietly(int to, std::initializer_list<ControlMessage> msgs) {
  if (to == my_id) {
    // An answer to a message that claimed to come from ourselves.
    trace("ID " + str(my_id) + " will not answer itself with " + msgs.begin()->toString());
    return;
  }
  try {
    send(to, msgs);
  } catch (const ENoConnection&) {
    trace("ID " + str(my_id) + " dropped " + msgs.begin()->toString() + " for " + str(to));
  }
}

void SiblingMessenger::Impl::sendTriple(int to, std::uint64_t start, std::uint64_t size,
                                        int about) {
  send(to, {make(MessageType::ExtraOffset, static_cast<std::int64_t>(start)),
            make(MessageType::ExtraSize, static_cast<std::int64_t>(size)),
            make(MessageType::SiblingAt, about)});
}

// Hands the unflushed writer's bytes to the kernel; true when nothing is
// held back any more.
bool SiblingMessenger::Impl::handOver() {
  if (!unflushed) return true;
  Sibling& u = *find(*unflushed);
  u.writer.poll();
  if (u.writer.broken()) {
    siblingGone(u.id);
  } else if (u.writer.held() == 0) {
    unflushed.reset();
    watchWriter(u, false);
  }
  return !unflushed;
}

// Puts X's unordered messages, then the head of the ordered queue while it is
// for X, into X's pipe writer. Bytes stay in the writer until the process
// next waits (the selector polls the watched writer) or until the writer is
// full, so a batch of control messages costs one write.
void SiblingMessenger::Impl::writeTo(int to) {
  if (unflushed && *unflushed != to && !handOver()) return;
  Sibling* s = find(to);
  if (s == nullptr || !s->pipe_open) return;
  auto pending = [&] {
    return !s->unordered.empty() || (!ordered.empty() && ordered.front().first == to);
  };
  while (pending()) {
    std::uint8_t* data = nullptr;
    const std::size_t room = s->writer.writeBegin(data);
    std::size_t used = 0;
    while (!s->unordered.empty() && used + ControlMessage::kSize <= room) {
      const auto bytes = s->unordered.front().encode();
      std::copy(bytes.begin(), bytes.end(), data + used);
      used += ControlMessage::kSize;
      s->unordered.pop_front();
    }
    while (!ordered.empty() && ordered.front().first == to &&
           used + ControlMessage::kSize <= room) {
      const auto bytes = ordered.front().second.encode();
      std::copy(bytes.begin(), bytes.end(), data + used);
      used += ControlMessage::kSize;
      ordered.pop_front();
    }
    s->writer.writeCommit(used);
    if (s->writer.held() > 0) {
      unflushed = to;
      watchWriter(*s, true);
    }
    if (!pending()) break;
    // The writer is full: give it to the kernel and go on while it takes it.
    if (!handOver()) return;
    if (!s->pipe_open) return;  // the pipe broke
  }
}

// Writes whatever waits, in order, as far as the pipes take it.
void SiblingMessenger::Impl::drain() {
  for (;;) {
    if (!handOver()) return;
    int next = 0;
    if (!ordered.empty()) {
      next = ordered.front().first;
    } else {
      bool found = false;
      for (auto& [id, s] : siblings) {
        if (!s->unordered.empty() && s->pipe_open) {
          next = id;
          found = true;
          break;
        }
      }
      if (!found) return;
    }
    Sibling* s = find(next);
    if (s == nullptr || !s->pipe_open) {
      // Nothing can reach it any more.
      std::erase_if(ordered, [next](const auto& e) { return e.first == next; });
      continue;
    }
    writeTo(next);
    if (unflushed && *unflushed == next) {
      // Held in the writer: it goes out when the process waits, or now if
      // more is queued behind it.
      if (ordered.empty() && std::none_of(siblings.begin(), siblings.end(), [](const auto& e) {
            return !e.second->unordered.empty() && e.second->pipe_open;
          })) {
        return;
      }
    }
  }
}

void SiblingMessenger::Impl::watchWriter(Sibling& s, bool on) {
  if (on == watched.contains(s.id)) return;
  if (on) {
    watched.insert(s.id);
  } else {
    watched.erase(s.id);
  }
  self.setUnderlying(&s.writer, on);
}

void SiblingMessenger::Impl::writerReady(Sibling& s) {
  if (s.writer.broken()) {
    siblingGone(s.id);
    return;
  }
  if (s.writer.held() == 0) {
    if (unflushed && *unflushed == s.id) unflushed.reset();
    watchWriter(s, false);
  }
  drain();
}

// --- the write area's announcements ---------------------------------------------

void SiblingMessenger::Impl::announce(int destination, std::uint64_t offset) {
  try {
    send(destination, {make(MessageType::MessageAt, static_cast<std::int64_t>(offset))});
    return;
  } catch (const ENoConnection&) {
  }
  Sibling& s = sibling(destination);
  s.queued_offsets.push_back(offset);
  if (parent) {
    const bool granted = parent->decisions.messageToNonexistantSibling &&
                         parent->decisions.messageToNonexistantSibling(destination, my_id);
    if (!granted && !s.failed) {
      trace("Parent message to sibling " + str(destination) +
            " denied by messageToNonexistantSibling");
      s.failed = true;
      freeOutstandingTo(destination, "denied");
      appendNull(s);
      updateIStream(s);
      updateOStream(s);
    }
    return;
  }
  if (!s.requested) {
    s.requested = true;
    trace("ID " + str(my_id) + " cannot write to " + str(destination) +
          " - requesting from parent...");
    sendQuietly(kParentId, {make(MessageType::RequestPeer, destination)});
  }
}

// --- connections -------------------------------------------------------------

void SiblingMessenger::Impl::openPipe(Sibling& s) {
  if (s.pipe_open) return;
  SiblingFifo fifo = openFifo(fifoprefix, s.id);
  s.writer.setHandle(std::move(fifo.writeEnd));
  s.pipe_open = true;
  if (fifo.pidfd.valid() && !s.watch) {
    s.watch = std::make_unique<ProcessWatch>(std::move(fifo.pidfd), "sibling " + str(s.id));
    self.setUnderlying(s.watch.get(), true);
  }
}

void SiblingMessenger::Impl::closePipe(Sibling& s) {
  trace("Shutting down FIFO for sibling " + str(s.id));
  if (!s.pipe_open) return;
  s.writer.closeHandle();
  s.pipe_open = false;
}

void SiblingMessenger::Impl::deliverQueued(Sibling& s) {
  s.requested = false;
  while (!s.queued_offsets.empty() && s.pipe_open) {
    const std::uint64_t off = s.queued_offsets.front();
    s.queued_offsets.pop_front();
    send(s.id, {make(MessageType::MessageAt, static_cast<std::int64_t>(off))});
  }
}

void SiblingMessenger::Impl::shutdownComms(Sibling& s) {
  trace(std::string(parent ? " PARENT" : " Sibling " + str(my_id)) + " shutting down comms with " +
        str(s.id) + " will report EOS");
  std::erase_if(ordered, [&](const auto& e) { return e.first == s.id; });
  write_areas.erase(s.id);
  if (s.failed) {
    s.unordered.clear();
    if (unflushed && *unflushed == s.id) unflushed.reset();
    watchWriter(s, false);
    closePipe(s);
    if (s.watch) {
      self.setUnderlying(s.watch.get(), false);
      s.watch.reset();
    }
  }
  // A sibling that shuts down in order keeps its pipe (and its watch) until
  // it is gone: the acknowledgements of its last messages, read after this,
  // still have to reach it, and it waits for them before it leaves.
  drain();
}

void SiblingMessenger::Impl::appendNull(Sibling& s) {
  if (s.ended) return;
  s.ended = true;
  received.push_back({s.id, 0, 0});
  ++s.waiting;
  updateIStream(s);
  updateSomeSibling();
}

void SiblingMessenger::Impl::freeOutstandingTo(int id, const char* why) {
  Sibling& s = sibling(id);
  s.queued_offsets.clear();
  if (!area) return;
  for (const std::uint64_t off : area->outstandingTo(id)) {
    trace(" AckMessage(" + str(static_cast<std::int64_t>(off)) + ") due to " + why);
    area->acknowledge(off, id);
  }
}

void SiblingMessenger::Impl::siblingGone(int id) {
  trace(" siblingGone() for sibling " + str(id));
  Sibling& s = sibling(id);
  if (s.failed) {
    trace(" Double siblingGone() marking, exiting early.");
    return;
  }
  if (unflushed && *unflushed == id) {
    trace("Dead sibling " + str(id) + " was unflushed.");
    unflushed.reset();
    watchWriter(s, false);
  }
  s.failed = true;
  appendNull(s);
  updateIStream(s);
  // It will never acknowledge: its blocks come back now.
  freeOutstandingTo(id, "siblingGone");
  shutdownComms(s);
  updateOStream(s);
  if (!parent) {
    recheckOwnShutdown();
    return;
  }
  trace(" Cleaning up after sibling " + str(id) +
        (s.shutdown_complete ? "" : " is not shutting down normally"));
  for (const auto& [start, entry] : parent->areas.areas()) {
    const int y = entry.id;
    if (y == my_id || y == id || !entry.in_use) continue;
    Sibling* other = find(y);
    if (other == nullptr) {
      trace(" Not notifying sibling " + str(y) + " that " + str(id) +
            " died, since it has no implementation");
      continue;
    }
    if (!other->pipe_open) {
      trace(" Not notifying sibling " + str(y) + " that " + str(id) +
            " died, since its pipe is not open");
      continue;
    }
    trace(" SP: Sending MT_SiblingDied(" + str(id) + ") to id " + str(y));
    sendQuietly(y, {make(MessageType::SiblingDied, id)});
  }
  std::vector<int> may_exit;
  parent->awaited.erase(id);
  for (auto& [z, set] : parent->awaited) {
    if (set.erase(id) > 0 && set.empty()) may_exit.push_back(z);
  }
  for (const int z : may_exit) letExit(z, ". Will allow child to exit (siblingGone).");
  const WriteAreaEntry* entry = parent->areas.find(id);
  if (entry != nullptr && entry->in_use) parent->areas.release(id);
}

void SiblingMessenger::Impl::letExit(int z, const char* how) {
  trace(" SP: parent got final ack for shutdown of child sibling " + str(z) + how);
  sendQuietly(z, {make(MessageType::AckShutdown, z)});
}

void SiblingMessenger::Impl::recheckOwnShutdown() {
  if (!shutdown || !shutdown->acknowledged || !area) return;
  const auto& out = area->outstanding();
  if (out.empty()) {
    for (auto& [id, s] : siblings) {
      if (s->ended) continue;
      trace("Adding EOS for sibling " + str(id) + " input stream");
      appendNull(*s);
    }
    return;
  }
  if (tracing()) {
    std::string line = "Sibling " + str(my_id) + " has " +
                       str(static_cast<std::int64_t>(out.size())) + " un-ack'ed messages:";
    for (const auto& [off, dest] : out) line += " " + str(static_cast<std::int64_t>(off));
    trace(line);
  }
}

void SiblingMessenger::Impl::checkPendingShutdownAck(Sibling& s) {
  if (!s.pending_shutdown_ack || (area && !area->outstandingTo(s.id).empty())) return;
  trace("got ack for all messages, allowing " + str(s.id) + " to shutdown");
  s.pending_shutdown_ack = false;
  sendQuietly(kParentId, {make(MessageType::AckShutdown, s.id)});
  shutdownComms(s);
  updateOStream(s);
}

// --- receiving ---------------------------------------------------------------

void SiblingMessenger::Impl::readInput() {
  for (;;) {
    const std::uint8_t* data = nullptr;
    std::size_t n = 0;
    try {
      n = reader.readBegin(data);
    } catch (const EEndOfStream&) {
      // Cannot happen while we hold the write end; stop listening if it does.
      trace("InputSignalReader reached its end");
      self.setUnderlying(&reader, false);
      return;
    }
    if (n == 0) return;
    // Take whole messages; a partial one is kept for the next read.
    std::vector<ControlMessage> batch;
    std::size_t used = 0;
    while (used < n) {
      const std::size_t take = std::min(ControlMessage::kSize - partial_len, n - used);
      std::copy(data + used, data + used + take, partial + partial_len);
      partial_len += take;
      used += take;
      if (partial_len == ControlMessage::kSize) {
        batch.push_back(ControlMessage::decode(partial));
        partial_len = 0;
      }
    }
    reader.readCommit(n);
    for (const ControlMessage& msg : batch) dispatch(msg);
  }
}

void SiblingMessenger::Impl::dispatch(const ControlMessage& msg) {
  if (tracing()) trace("ID " + str(my_id) + " got " + msg.toString());
  HX_CHECK(msg.sender() >= kMinSiblingId && msg.sender() <= kMaxSiblingId,
           "Control message from out of range sibling id: " + msg.toString());
  switch (msg.type()) {
    case MessageType::MT_Undefined:
      HX_CHECK(false, "Got MT_Undefined");
      break;
    case MessageType::MessageAt:
      onMessageAt(msg);
      break;
    case MessageType::AckMessageAt:
      onAckMessageAt(msg);
      break;
    case MessageType::ExtraOffset:
    case MessageType::ExtraSize:
    case MessageType::ExtraSiblingId: {
      extras.push_back(msg);
      if (extras.size() >= 3) {
        std::string text = "Too big a stack: ";
        for (const ControlMessage& e : extras) text += e.toString() + " ";
        HX_CHECK(false, text);
      }
      break;
    }
    case MessageType::SiblingAt:
      onSiblingAt(msg);
      break;
    case MessageType::RequestPeer:
      onRequestPeer(msg);
      break;
    case MessageType::IAmUp:
      onIAmUp(msg);
      break;
    case MessageType::InitShutdown:
      onInitShutdown(msg);
      break;
    case MessageType::AckShutdown:
      onAckShutdown(msg);
      break;
    case MessageType::SiblingDied:
      onSiblingDied(msg);
      break;
  }
}

void SiblingMessenger::Impl::onMessageAt(const ControlMessage& msg) {
  const int x = msg.sender();
  const auto bounds = write_areas.find(x);
  // A sibling found dead through a broken pipe may have written to us just
  // before: its stream has ended already, so its last messages go unread.
  if (const Sibling* dead = find(x);
      bounds == write_areas.end() && dead != nullptr && dead->failed) {
    trace(" discarding MessageAt from dead sibling " + str(x));
    return;
  }
  HX_CHECK(bounds != write_areas.end(),
           "MessageAt from sibling " + str(x) + " without a known write area");
  const auto off = static_cast<std::uint64_t>(msg.value());
  const auto bytes =
      pool->view().message(off, bounds->second.start, bounds->second.start + bounds->second.size);
  Sibling& s = sibling(x);
  received.push_back({x, off, bytes.size()});
  ++s.waiting;
  updateIStream(s);
  updateSomeSibling();
  checkPendingShutdownAck(s);
}

void SiblingMessenger::Impl::onAckMessageAt(const ControlMessage& msg) {
  const int x = msg.sender();
  Sibling* s = find(x);
  if (s != nullptr && s->failed) {
    trace(" discarding ACK from dead sibling " + str(x));
    return;
  }
  HX_CHECK(area != nullptr, "Not one of my messages: " + msg.toString());
  area->acknowledge(static_cast<std::uint64_t>(msg.value()), x);
  if (s != nullptr) checkPendingShutdownAck(*s);
  recheckOwnShutdown();
}

void SiblingMessenger::Impl::onSiblingAt(const ControlMessage& msg) {
  const auto x = static_cast<int>(msg.value());
  HX_CHECK(extras.size() == 2,
           "Stack size is " + str(static_cast<std::int64_t>(extras.size())) + " on SiblingAt");
  HX_CHECK(extras[0].type() == MessageType::ExtraOffset, "No ExtraOffset on SiblingAt");
  HX_CHECK(extras[1].type() == MessageType::ExtraSize, "No ExtraSize on SiblingAt");
  const auto start = static_cast<std::uint64_t>(extras[0].value());
  const auto size = static_cast<std::uint64_t>(extras[1].value());
  extras.clear();
  // Another process's area is only ever read through bounds-checked views,
  // but it must at least lie inside the pool.
  HX_CHECK(start >= 8 && size >= kBlockHeaderSize && start <= pool->mapsize() &&
               size <= pool->mapsize() - start,
           "Write area " + str(static_cast<std::int64_t>(start)) + " + " +
               str(static_cast<std::int64_t>(size)) + " of sibling " + str(x) +
               " lies outside the pool");
  HX_CHECK(write_areas.emplace(x, AreaBounds{start, size}).second,
           "Failed insertion in into write_areas");
  if (x == my_id) {
    HX_CHECK(!area_known, "Failed insertion in into write_areas");
    area_known = true;
    area = std::make_unique<WriteArea>(pool->view(), start, size, *this);
    trace("ID " + str(my_id) + " got write area " + str(static_cast<std::int64_t>(start)) + " + " +
          str(static_cast<std::int64_t>(size)));
  }
  if (my_id == kParentId || x == kParentId) return;
  Sibling& s = sibling(x);
  if (s.failed) {
    // Introduced again after it went: a new incarnation.
    s.failed = false;
    s.ended = false;
    s.shutdown_complete = false;
  }
  try {
    openPipe(s);
  } catch (const error::Exception& e) {
    trace("ID " + str(my_id) + " cannot open the pipe of " + str(x) + ": " + e.text());
    siblingGone(x);
    return;
  }
  updateOStream(s);
  if (area) deliverQueued(s);
}

void SiblingMessenger::Impl::onRequestPeer(const ControlMessage& msg) {
  HX_CHECK(parent != nullptr, "Got RequestPeer but we're a child");
  const auto x = static_cast<int>(msg.value());
  const int requester = msg.sender();
  const bool granted = parent->decisions.messageToNonexistantSibling &&
                       parent->decisions.messageToNonexistantSibling(x, requester);
  const std::string what =
      "Parent request for sibling startup of " + str(x) + " from " + str(requester);
  if (granted) {
    trace(what + " granted by messageToNonexistantSibling");
    return;
  }
  trace(what + " denied by messageToNonexistantSibling");
  sendQuietly(requester, {make(MessageType::SiblingDied, x)});
}

void SiblingMessenger::Impl::onIAmUp(const ControlMessage& msg) {
  HX_CHECK(parent != nullptr, "Got IAmUp but we're a child");
  const int n = msg.sender();
  const std::uint64_t size = parent->decisions.areaSize(n);
  HX_CHECK(size % 8 == 0, "Slice size for sibling id " + str(n) + " is not 8 byte aligned!");
  Sibling& sn = sibling(n);
  if (sn.failed) {
    sn.failed = false;
    sn.ended = false;
    sn.shutdown_complete = false;
  }
  const WriteAreaEntry entry = parent->areas.allocate(n, size);
  try {
    openPipe(sn);
  } catch (const error::Exception& e) {
    trace(" SP: cannot open the pipe of " + str(n) + ": " + e.text());
    parent->areas.release(n);
    siblingGone(n);
    return;
  }
  std::vector<WriteAreaEntry> old;
  for (const auto& [start, y] : parent->areas.areas()) {
    if (y.id == kParentId || y.id == n || !y.in_use) continue;
    Sibling* other = find(y.id);
    HX_CHECK(other != nullptr, "No sibling implementation for entry in areas");
    if (parent->awaited.contains(y.id)) {
      trace(" Not notifying " + str(n) + " about sibling " + str(y.id) + " because id " +
            str(y.id) + " is shutting down");
      continue;
    }
    if (other->failed || !other->pipe_open) continue;
    trace(" ID=" + str(my_id) + " notifies new sibling " + str(n) + " of sibling " + str(y.id));
    sendTriple(n, y.start, y.size, y.id);
    old.push_back(y);
  }
  for (const WriteAreaEntry& y : old) {
    trace(" ID=" + str(my_id) + " notifies old sibling " + str(y.id) + " of sibling " + str(n));
    try {
      sendTriple(y.id, entry.start, entry.size, n);
    } catch (const ENoConnection&) {
    }
  }
  sendTriple(n, entry.start, entry.size, n);
  write_areas[n] = AreaBounds{entry.start, entry.size};
  const AreaBounds own = write_areas.at(my_id);
  sendTriple(n, own.start, own.size, kParentId);
  new_siblings.push_back(n);
  new_siblings_front.setReady(true);
  updateOStream(sn);
  deliverQueued(sn);
}

void SiblingMessenger::Impl::onInitShutdown(const ControlMessage& msg) {
  const auto x = static_cast<int>(msg.value());
  if (!parent) {
    Sibling* si = find(x);
    HX_CHECK(si != nullptr, "si is end");
    if (area && !area->outstandingTo(x).empty()) {
      trace("ID " + str(my_id) + ": Sibling: " + str(x) +
            " has outstanding messages in InitShutdown");
      si->pending_shutdown_ack = true;
      updateOStream(*si);
      return;
    }
    shutdownComms(*si);
    trace(" Cleared SiblingMessenger state for ID " + str(x));
    sendQuietly(kParentId, {make(MessageType::AckShutdown, x)});
    return;
  }
  trace(" SP: parent notifying children of intention to shutdown sibling " + str(x));
  if (parent->awaited.contains(x)) return;  // announced twice: the first still stands
  std::set<int> awaited;
  for (const auto& [start, y] : parent->areas.areas()) {
    if (y.id == kParentId || y.id == x || !y.in_use || parent->awaited.contains(y.id)) continue;
    Sibling* other = find(y.id);
    if (other == nullptr || other->failed || !other->pipe_open) continue;
    trace(" SP: Has to be ack'ed by " + str(y.id));
    sendQuietly(y.id, {make(MessageType::InitShutdown, x)});
    awaited.insert(y.id);
  }
  const bool none = awaited.empty();
  parent->awaited[x] = std::move(awaited);
  if (none) {
    trace(" SP: No other siblings have to ack. Will allow child to exit.");
    sendQuietly(x, {make(MessageType::AckShutdown, x)});
  }
}

void SiblingMessenger::Impl::onAckShutdown(const ControlMessage& msg) {
  const auto x = static_cast<int>(msg.value());
  const int from = msg.sender();
  if (!parent) {
    HX_CHECK(shutdown.has_value(), "Protocol violation; got AckShutdown unexpectedly");
    trace("child allowed to shut down... will do so.");
    shutdown->acknowledged = true;
    recheckOwnShutdown();
    return;
  }
  if (from == x) {
    trace(" SP: parent got MT_AckShutdown from child sibling " + str(x) +
          " that called completeShutdown.");
    Sibling& s = sibling(x);
    s.shutdown_complete = true;
    siblingGone(x);
    parent->awaited.erase(x);
    const WriteAreaEntry* entry = parent->areas.find(x);
    if (entry != nullptr && entry->in_use) parent->areas.release(x);
    return;
  }
  const auto it = parent->awaited.find(x);
  if (it == parent->awaited.end() || it->second.erase(from) == 0) {
    trace(" SP: Warning: Got unexpected acknowledge from " + str(from) + " on shutdown of " +
          str(x));
    return;
  }
  trace(" SP: Got acknowledge of: " + str(x) + " from " + str(from));
  if (it->second.empty()) letExit(x, ". Will allow child to exit.");
}

void SiblingMessenger::Impl::onSiblingDied(const ControlMessage& msg) {
  HX_CHECK(parent == nullptr, "MT_SiblingDied not valid to parent");
  const auto x = static_cast<int>(msg.value());
  Sibling& s = sibling(x);
  freeOutstandingTo(x, "MT_SiblingDied");
  if (!s.failed) {
    s.failed = true;
    appendNull(s);
    updateIStream(s);
    shutdownComms(s);
  }
  updateOStream(s);
  recheckOwnShutdown();
}

// --- streams -------------------------------------------------------------------

std::size_t SiblingMessenger::Sibling::SiblingIStream::readBegin(const std::uint8_t*& data) {
  Sibling& s = sibling_;
  Impl& m = s.m;
  if (!isReady()) throw ENotReady(name());
  if (s.failed && s.waiting == 0) {
    m.trace(" IStream for ID " + str(s.id) +
            " will throw EOS because we have process error and no messages left");
    throw EEndOfStream(name(), "readBegin had empty queue and process error");
  }
  HX_CHECK(s.waiting > 0, "rmsgs empty in SiblingIStream::readBegin() for sibling: " + str(s.id));
  const auto it = std::find_if(m.received.begin(), m.received.end(),
                               [&](const Impl::Received& r) { return r.sender == s.id; });
  HX_CHECK(it != m.received.end(), "curr_msg does not hold a message for us");
  if (it->offset == 0) throw EEndOfStream(name(), "readBegin encountered the null message");
  HX_CHECK(it->len > s.consumed, "Message not larger than number of bytes read " +
                                     str(static_cast<std::int64_t>(s.consumed)));
  data = m.pool->address() + it->offset + kBlockHeaderSize + s.consumed;
  return static_cast<std::size_t>(it->len - s.consumed);
}

void SiblingMessenger::Sibling::SiblingIStream::readCommit(std::size_t n) {
  Sibling& s = sibling_;
  Impl& m = s.m;
  const auto it = std::find_if(m.received.begin(), m.received.end(),
                               [&](const Impl::Received& r) { return r.sender == s.id; });
  HX_CHECK(it != m.received.end() && it->offset != 0, "Read committed with no messages in queue");
  HX_CHECK(n <= it->len - s.consumed, "Cannot commit more read data than what there is");
  s.consumed += n;
  if (s.consumed < it->len) return;
  const std::uint64_t off = it->offset;
  m.received.erase(it);
  --s.waiting;
  s.consumed = 0;
  m.updateIStream(s);
  m.updateSomeSibling();
  try {
    m.send(s.id, {m.make(MessageType::AckMessageAt, static_cast<std::int64_t>(off))});
  } catch (const ENoConnection&) {
    m.trace("ID " + str(m.my_id) + " cannot acknowledge " + str(static_cast<std::int64_t>(off)) +
            " to " + str(s.id));
  }
}

std::size_t SiblingMessenger::Sibling::SiblingOStream::writeBegin(std::uint8_t*& data) {
  Sibling& s = sibling_;
  Impl& m = s.m;
  if (!isReady()) throw ENotReady(name());
  if (s.failed) throw EEndOfStream(name(), "Write to failed process");
  if (m.shutdown) {
    if (m.shutdown->acknowledged) {
      throw EEndOfStream(name(), "Write disabled due to acknowledged shutdown");
    }
    if (s.id != kParentId)
      throw EEndOfStream(name(), "Write to non-parent disabled during shutdown");
  }
  HX_CHECK(m.area != nullptr, "SiblingOStream::writeBegin() without a write area");
  return m.area->writeBegin(s.id, data);
}

void SiblingMessenger::Sibling::SiblingOStream::writeCommit(std::size_t n) {
  Impl& m = sibling_.m;
  HX_CHECK(m.area != nullptr, "Commit without an OStream writing");
  m.area->writeCommit(sibling_.id, n);
}

bool SiblingMessenger::Sibling::SiblingOStream::flush() {
  Impl& m = sibling_.m;
  if (m.area) m.area->flush();
  return true;
}

// --- SiblingRef ------------------------------------------------------------------

SiblingMessenger::SiblingRef::SiblingRef(Sibling* sibling) : sibling_(sibling) {
  ++sibling_->refcount;
}
SiblingMessenger::SiblingRef::SiblingRef(SiblingRef&& other) noexcept
    : sibling_(std::exchange(other.sibling_, nullptr)) {}
SiblingMessenger::SiblingRef& SiblingMessenger::SiblingRef::operator=(SiblingRef&& other) noexcept {
  if (this != &other) {
    SiblingRef gone(std::move(*this));
    sibling_ = std::exchange(other.sibling_, nullptr);
  }
  return *this;
}
SiblingMessenger::SiblingRef::~SiblingRef() {
  if (sibling_ == nullptr) return;
  HX_CHECK(sibling_->refcount > 0, "Reference count zero at Sibling destructor");
  --sibling_->refcount;
}
int SiblingMessenger::SiblingRef::id() const { return sibling_->id; }
IStream& SiblingMessenger::SiblingRef::istream() const { return sibling_->istream; }
OStream& SiblingMessenger::SiblingRef::ostream() const { return sibling_->ostream; }

// --- SiblingMessenger -------------------------------------------------------------

SiblingMessenger::SiblingMessenger(int my_id, const std::string& env_prefix, TraceSink trace)
    : SiblingMessenger(my_id, readSiblingMessengerConf(env_prefix), std::move(trace)) {}

SiblingMessenger::SiblingMessenger(int my_id, const siblingmessenger_conf_t& conf, TraceSink trace)
    : SiblingMessenger(my_id, conf, std::move(trace), nullptr) {}

SiblingMessenger::SiblingMessenger(int my_id, const siblingmessenger_conf_t& conf, TraceSink trace,
                                   std::unique_ptr<ParentRole> parent) {
  const bool child = parent == nullptr;
  impl_ = std::make_unique<Impl>(*this, my_id, conf, std::move(trace), std::move(parent));
  if (child) {
    Impl& m = *impl_;
    Sibling& p = m.sibling(kParentId);
    m.openPipe(p);
    m.send(kParentId, {m.make(MessageType::IAmUp, 0)});
  }
}

SiblingMessenger::~SiblingMessenger() = default;

void SiblingMessenger::underlyingIsReady(Selectable* s) {
  Impl& m = *impl_;
  if (s == &m.reader) {
    m.readInput();
    return;
  }
  for (const int id : m.watched) {
    Sibling& sib = *m.find(id);
    if (&sib.writer == s) {
      m.trace("Watched writer on sibling " + str(id) + " matches the ready selectable");
      m.writerReady(sib);
      return;
    }
  }
  for (auto& [id, sib] : m.siblings) {
    if (sib->watch && sib->watch.get() == s) {
      m.trace("Process of sibling " + str(id) + " ended");
      const int gone = id;
      m.self.setUnderlying(sib->watch.get(), false);
      m.siblingGone(gone);
      return;
    }
  }
  HX_CHECK(false, "io::SiblingMessenger::underlyingIsReady called with unknown s");
}

SiblingMessenger::SiblingRef SiblingMessenger::getSibling(int id) {
  return SiblingRef(&impl_->sibling(id));
}
IStream& SiblingMessenger::inputStream(int id) { return impl_->sibling(id).istream; }
OStream& SiblingMessenger::outputStream(int id) { return impl_->sibling(id).ostream; }
Selectable& SiblingMessenger::someSibling() { return impl_->some_sibling; }
Selectable& SiblingMessenger::newSiblings() { return impl_->new_siblings_front; }

std::optional<int> SiblingMessenger::takeNewSibling() {
  Impl& m = *impl_;
  if (m.new_siblings.empty()) return std::nullopt;
  const int id = m.new_siblings.front();
  m.new_siblings.pop_front();
  m.new_siblings_front.setReady(!m.new_siblings.empty());
  return id;
}

int SiblingMessenger::readySibling() {
  Impl& m = *impl_;
  if (!m.parent) {
    const Sibling* p = m.find(kParentId);
    if (p != nullptr && p->failed) return kParentId;
  }
  HX_CHECK(!m.received.empty(), "dequeue SomeSibling on empty list without process error");
  return m.received.front().sender;
}

void SiblingMessenger::dropEndOfStream(int id) {
  Impl& m = *impl_;
  const auto it = std::find_if(m.received.begin(), m.received.end(),
                               [&](const Impl::Received& r) { return r.sender == id; });
  if (it == m.received.end() || it->offset != 0) return;
  m.received.erase(it);
  Sibling& s = m.sibling(id);
  --s.waiting;
  m.updateIStream(s);
  m.updateSomeSibling();
}

void SiblingMessenger::initiateShutdown() {
  Impl& m = *impl_;
  HX_CHECK(!m.shutdown, "Shutdown already in progress...");
  m.shutdown = Impl::ShutdownState{false, false};
  m.send(kParentId, {m.make(MessageType::InitShutdown, m.my_id)});
}

void SiblingMessenger::completeShutdown() {
  Impl& m = *impl_;
  HX_CHECK(m.shutdown && m.shutdown->acknowledged,
           "Protocol violation; premature completeShutdown()");
  HX_CHECK(!m.shutdown->completed, "Protocol violation; duplicate completeShutdown()");
  try {
    m.send(kParentId, {m.make(MessageType::AckShutdown, m.my_id)});
  } catch (const ENoConnection&) {
    m.trace("completeShutdown has no parent connection");
  }
  m.shutdown->completed = true;
  m.updateAllOStreams();
  if (Sibling* p = m.find(kParentId); p != nullptr && p->pipe_open) {
    // The process is about to leave: the acknowledgement goes out now.
    (void)p->writer.flush();
    if (m.unflushed && *m.unflushed == kParentId) m.unflushed.reset();
    m.watchWriter(*p, false);
    m.closePipe(*p);
  }
}

bool SiblingMessenger::shutdownInitiated() const { return impl_->shutdown.has_value(); }
bool SiblingMessenger::shutdownAcknowledged() const {
  return impl_->shutdown && impl_->shutdown->acknowledged;
}
bool SiblingMessenger::shutdownCompleted() const {
  return impl_->shutdown && impl_->shutdown->completed;
}

void SiblingMessenger::watchStartedChild(int id, os::OwnedFd pidfd) {
  Impl& m = *impl_;
  Sibling& s = m.sibling(id);
  if (s.watch) setUnderlying(s.watch.get(), false);
  s.watch = std::make_unique<ProcessWatch>(std::move(pidfd), "child " + str(id));
  setUnderlying(s.watch.get(), true);
}

int SiblingMessenger::myId() const { return impl_->my_id; }
bool SiblingMessenger::hasWriteArea() const { return impl_->area != nullptr; }
std::size_t SiblingMessenger::outstandingCount() const {
  return impl_->area ? impl_->area->outstanding().size() : 0;
}
std::span<const std::uint8_t> SiblingMessenger::pool() const {
  return {impl_->pool->address(), static_cast<std::size_t>(impl_->pool->mapsize())};
}
bool SiblingMessenger::siblingFailed(int id) const {
  const Sibling* s = impl_->find(id);
  return s != nullptr && s->failed;
}

// --- SiblingMessengerParent --------------------------------------------------------

SiblingMessengerParent::SiblingMessengerParent(const siblingmessenger_conf_t& conf,
                                               Decisions decisions, TraceSink trace)
    : SiblingMessenger(kParentId, conf, trace,
                       std::make_unique<ParentRole>(conf.mapsize, std::move(decisions), trace)) {
  Impl& m = *impl_;
  const std::uint64_t size = m.parent->decisions.areaSize(kParentId);
  HX_CHECK(size % 8 == 0, "Slice size for sibling id 0 is not 8 byte aligned!");
  const WriteAreaEntry own = m.parent->areas.allocate(kParentId, size);
  m.write_areas[kParentId] = Impl::AreaBounds{own.start, own.size};
  m.area_known = true;
  m.area = std::make_unique<WriteArea>(m.pool->view(), own.start, own.size, m);
}

SiblingMessengerParent::~SiblingMessengerParent() = default;

}  // namespace io
