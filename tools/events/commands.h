#pragma once
// The two jobs of halcyx-events, over streams so that tests can run them:
// printing events found in wire form, and encoding events described in JSON
// into wire form.
#include <ostream>
#include <string>

#include "error/exception.h"
#include "io/stream.h"

namespace events {

// Input that is not what the command expects. The text says where: the
// input's name, then the byte offset and event number (printing) or the
// place in the JSON document (encoding), then what is wrong.
class EBadInput : public error::MessageException {
 public:
  using MessageException::MessageException;
};

enum class PrintFormat {
  text,  // the events' text form, a blank line between events
  json   // one JSON array, one event per line (what `encode` reads)
};

// Reads events back to back from `in` until its end and prints each to
// `out` as soon as it is read. `inputName` names the input in error texts.
// Returns the number of events printed. Input that ends inside an event or
// does not decode throws EBadInput after the events before it were printed
// (and, for JSON, the array closed).
std::size_t printEvents(io::IStream& in, const std::string& inputName, std::ostream& out,
                        PrintFormat format);

// Encodes the events described by `document` (a JSON array of events, or
// one event; see event_json.h) and writes them to `out`. Nothing is written
// unless every event is valid: a bad document throws EBadInput naming
// `documentName` and the place. Returns the number of events written.
std::size_t encodeEvents(const std::string& document, const std::string& documentName,
                         io::OStream& out);

}  // namespace events
