#pragma once
// The event: the unit of all traffic between sibling processes. Every event
// names its type, the queue it goes to (or, once received, came from), the
// request uid that pairs a reply with its request, and whether it is an
// exception reply instead of ordinary data.
//
// This is the abstract base. The concrete classes (`devent<N, Data>`, one
// per event type, and `exevent`, the exception reply) are in devent.h, beside
// the byte encoding, because each of them is defined by how its data is encoded.
//
// Events are heap objects with one owner (EventPtr). Receiving an event
// hands it to the receiver; sending one only borrows it.
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "queues/types.h"

namespace queues {

class ioprim;

class event;
using EventPtr = std::unique_ptr<event>;

class event {
 public:
  event_t type;
  // Where the event goes when sent; who sent it once received.
  queue_t dest;
  // The request uid; a reply carries the uid of its request.
  std::uint32_t inresponse;
  // Set only for an exception reply.
  bool exception;

  virtual ~event() = default;
  // A heap copy of the whole event, header and data.
  virtual EventPtr clone() const = 0;
  // Writes the data part (not the header) to an event stream.
  virtual void writeData(queues::ioprim& out) const = 0;
  // Writes the data part as text, each line indented by 2 * depth spaces.
  virtual void printData(std::ostream& out, int depth) const = 0;

  // The event's text form, every line indented by 2 * depth spaces:
  //   TYPE_NAME {
  //     dest: alrm
  //     inresponse: 7
  //     ...data...
  //   }
  void print(std::ostream& out, int depth = 0) const;
  // The same block without the indentation of its first line and without the
  // final line end, for printing an event as the value of a field.
  void printBlock(std::ostream& out, int depth) const;
  std::string toString() const;

 protected:
  event(event_t type_, queue_t dest_, std::uint32_t inresponse_, bool exception_)
      : type(type_), dest(dest_), inresponse(inresponse_), exception(exception_) {}
  event(const event&) = default;
  event& operator=(const event&) = default;
};

std::ostream& operator<<(std::ostream& out, const event& ev);

}  // namespace queues
