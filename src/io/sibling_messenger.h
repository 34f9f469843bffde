#pragma once
// The sibling messenger: one process's connection to the other processes
// of the family. Message bodies travel through the shared pool (each
// process writes into its own write area, receivers read in place and
// acknowledge); everything else travels as 8-byte control messages over
// pipes. Every process owns one input pipe that all siblings write into, and
// opens the input pipe of each sibling it talks to.
//
// Sibling 0, the main process, is the parent (SiblingMessengerParent): it
// hands out write areas, introduces siblings to each other, relays
// shutdowns and reports deaths. Every other process is a child.
//
// The messenger is a stacked back. Its fronts: someSibling() (some sibling
// has input, its end of stream included), newSiblings() (the parent learned
// of a new child) and each sibling's input and output stream. Its underlying
// selectables: the own input pipe, the process watches of its siblings and
// the pipe writers that still hold control messages. Control messages are
// buffered and reach the kernel when the process next waits (the selector
// polls every underlying selectable before it waits), so that a batch costs
// one write.
//
// Single-threaded: all work happens in selector callbacks and in the stream
// operations called by the main loop.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/stacked.h"
#include "io/stream.h"
#include "os/owned_fd.h"

namespace io {

struct siblingmessenger_conf_t;  // io/fifo.h

class SiblingMessenger : public StackedSelectableBack {
 public:
  // Receives every trace line, each opening with the UTC time.
  using TraceSink = std::function<void(std::string_view)>;

  // One known sibling: its streams and connection state. Reached through a
  // SiblingRef, which holds a reference.
  class Sibling;

  // A counted reference to a sibling, released when the ref goes away.
  class SiblingRef {
   public:
    SiblingRef() = default;
    SiblingRef(SiblingRef&& other) noexcept;
    SiblingRef& operator=(SiblingRef&& other) noexcept;
    SiblingRef(const SiblingRef&) = delete;
    SiblingRef& operator=(const SiblingRef&) = delete;
    ~SiblingRef();

    [[nodiscard]] int id() const;
    [[nodiscard]] IStream& istream() const;
    [[nodiscard]] OStream& ostream() const;
    explicit operator bool() const { return sibling_ != nullptr; }

   private:
    friend class SiblingMessenger;
    explicit SiblingRef(Sibling* sibling);
    Sibling* sibling_ = nullptr;
  };

  // Reads the configuration from the environment variables env_prefix +
  // "::mapfile", "::fifoprefix" and "::mapsize".
  SiblingMessenger(int my_id, const std::string& env_prefix, TraceSink trace = {});
  // With a configuration at hand. Maps the pool (checking its magic),
  // creates and publishes the own input pipe; a child then opens the
  // parent's pipe and sends IAmUp.
  SiblingMessenger(int my_id, const siblingmessenger_conf_t& conf, TraceSink trace = {});
  ~SiblingMessenger() override;

  void underlyingIsReady(Selectable* s) override;

  // The sibling `id`, created on first use.
  [[nodiscard]] SiblingRef getSibling(int id);
  // The sibling's streams; the messenger keeps a reference of its own, so
  // they stay valid as long as the messenger.
  [[nodiscard]] IStream& inputStream(int id);
  [[nodiscard]] OStream& outputStream(int id);

  // Ready while some sibling has input waiting (its end of stream included).
  [[nodiscard]] Selectable& someSibling();
  // Ready while the parent has newly announced children to report.
  [[nodiscard]] Selectable& newSiblings();
  [[nodiscard]] std::optional<int> takeNewSibling();

  // The sender of the first waiting input; asked while someSibling() is
  // ready. A child whose parent failed answers 0.
  [[nodiscard]] int readySibling();
  // After the sibling's input stream threw EEndOfStream: drops its end
  // marker so that input from others moves up.
  void dropEndOfStream(int id);

  // Announces the own shutdown to the parent.
  void initiateShutdown();
  // After the parent acknowledged the shutdown: tells the parent that this
  // process is done and closes the connection to it.
  void completeShutdown();
  [[nodiscard]] bool shutdownInitiated() const;
  [[nodiscard]] bool shutdownAcknowledged() const;
  [[nodiscard]] bool shutdownCompleted() const;

  // Parent: watches a child it started, so that its death is noticed even
  // before it opened any pipe.
  void watchStartedChild(int id, os::OwnedFd pidfd);

  [[nodiscard]] int myId() const;
  // The own write area is known (output streams can become ready).
  [[nodiscard]] bool hasWriteArea() const;
  // Messages written and not yet acknowledged, to anybody.
  [[nodiscard]] std::size_t outstandingCount() const;
  // The sibling is known and marked failed (gone).
  [[nodiscard]] bool siblingFailed(int id) const;
  // The shared pool as this process maps it: every message handed out by
  // an input stream lies inside.
  [[nodiscard]] std::span<const std::uint8_t> pool() const;

  struct Impl;

 protected:
  struct ParentRole;
  SiblingMessenger(int my_id, const siblingmessenger_conf_t& conf, TraceSink trace,
                   std::unique_ptr<ParentRole> parent);

  std::unique_ptr<Impl> impl_;
};

// Sibling 0, the main process.
class SiblingMessengerParent : public SiblingMessenger {
 public:
  struct Decisions {
    // A child asked to talk to a sibling that does not exist: true when the
    // main process starts it (which then says IAmUp), false to answer the
    // requester that the sibling died.
    std::function<bool(int requested, int requester)> messageToNonexistantSibling;
    // The size of the write area of a sibling (a multiple of 8).
    std::function<std::uint64_t(int sibling)> areaSize;
  };
  // Allocates the own write area (areaSize(0)) in the pool behind its
  // header.
  SiblingMessengerParent(const siblingmessenger_conf_t& conf, Decisions decisions,
                         TraceSink trace = {});
  ~SiblingMessengerParent() override;

  // Where the write areas begin: behind the pool header.
  static constexpr std::uint64_t kFirstAreaOffset = 64;
};

}  // namespace io
