// halcyx-events: turns events in wire form into readable text and readable
// descriptions of events into wire form.
#include <iostream>
#include <string>
#include <vector>

#include "error/exception.h"
#include "events/commands.h"
#include "io/exceptions.h"
#include "io/fd_stream.h"
#include "io/memory_stream.h"
#include "os/fd.h"
#include "os/file.h"
#include "os/terminal.h"

namespace {

constexpr const char* kUsage = R"(usage: halcyx-events print [--json] [FILE]
       halcyx-events encode FILE
       halcyx-events --help

print   reads events in wire form (back to back, as captured from a pipe
        between sibling processes) from FILE or standard input and prints
        each event as soon as it is read: its text form, or with --json the
        JSON form that `encode` reads back.
encode  reads a JSON document describing events from FILE ("-": standard
        input) and writes their wire form to standard output (not to a
        terminal). Nothing is written unless every event in the document is
        valid.

Bad input ends the program with a message that says where (file, byte offset
and event number, or the place in the JSON document as a JSON pointer) and
exit code 1; a wrong command line gives exit code 2.

The JSON form: a document is one event or an array of events. An event is
  {"type": "IMMEDIATE_STATE", "dest": "dbms", "inresponse": 0,
   "data": {"id": "0.1.5", "state": 3}}
  {"type": "MESSAGE_EXCEPTION", "dest": "main", "inresponse": 7,
   "exception": "no such metric"}
"type" is the event type's name (or number 1-195), "dest" a queue name
(main, schd, dbms, rmch, skio, alrm, alrt, ...) or number, "inresponse" the
request uid (default 0). "data" holds the payload: a payload record is an
object with one member per field, named as in the text form (missing
members are zero or empty; unknown ones are an error); a payload that is a
single value is that value. Values:
  integers, doubles     numbers ("nan", "inf", "-inf" for such doubles)
  booleans              true / false
  texts                 strings; bytes that are not UTF-8: {"hex": "c3 28"}
  object ids            "0.1.5" ("" for the empty id)
  times                 {"sec": 1700000000, "usec": 0} or a number of seconds
  versions              {"major": 1, "minor": 0}
  lists, vectors, sets  arrays; pairs: [first, second]
  class_ fields         class names ("Check") or numbers
  wanted_properties     property names or numbers
  properties            {"type": "int", "property": "warn", "value": 50}
                        with "null": true and "aux": N when set; types:
                        string string_list object_set object version action
                        real bignum gid gid_list date index int uint boolean
                        blob lob oid enum (version: "major"/"minor"; enum:
                        "enumType"/"value"; object: "value" plus optional
                        "extraId1", "extraId2", "extraWord"; bignum: decimal
                        string; blob, lob: hex string). In an object's
                        "properties" the member name is the property name
                        and "property" is left out.
  nested events         their JSON form
Example:
  [{"type": "CHECKIN", "dest": "dbms",
    "data": {"id": "1.4", "checkin_time": 1700000000}},
   {"type": "RETURN_TQL_SELECT_DELETE_PATCH", "dest": "dbms",
    "data": {"id": "1.9", "seq": {"major": 3, "minor": 0}}}]
)";

int usageError(const std::string& problem) {
  std::cerr << "halcyx-events: " << problem << "\n"
            << "Try 'halcyx-events --help'.\n";
  return 2;
}

int print(const std::vector<std::string>& args) {
  events::PrintFormat format = events::PrintFormat::text;
  std::string file;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      format = events::PrintFormat::json;
    } else if (arg.starts_with("-") && arg != "-") {
      return usageError("unknown option " + arg);
    } else if (file.empty()) {
      file = arg;
    } else {
      return usageError("print takes one input file");
    }
  }
  if (file.empty() || file == "-") {
    io::FdIStream in(os::kStandardInput, "stdin", io::FdOwnership::borrow);
    events::printEvents(in, "standard input", std::cout, format);
    return 0;
  }
  const std::string content = os::readWholeFile(file);
  io::MemoryPipe pipe;
  pipe.deliver(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
  pipe.closeWriter();
  io::MemoryIStream in(pipe);
  events::printEvents(in, file, std::cout, format);
  return 0;
}

int encode(const std::vector<std::string>& args) {
  if (args.size() != 1) return usageError("encode takes exactly one input file");
  if (os::isTerminal(os::kStandardOutput)) {
    std::cerr << "halcyx-events: will not write wire form to a terminal; redirect standard "
                 "output to a file or pipe\n";
    return 2;
  }
  std::string document;
  std::string name = args[0];
  if (name == "-") {
    io::FdIStream in(os::kStandardInput, "stdin", io::FdOwnership::borrow);
    for (;;) {
      const std::uint8_t* data = nullptr;
      std::size_t n = 0;
      try {
        n = in.readBegin(data);
      } catch (const io::EEndOfStream&) {
        break;
      }
      if (n == 0) {
        in.waitReady();
        continue;
      }
      document.append(reinterpret_cast<const char*>(data), n);
      in.readCommit(n);
    }
    name = "standard input";
  } else {
    document = os::readWholeFile(name);
  }
  io::FdOStream out(os::kStandardOutput, "stdout", io::FdOwnership::borrow);
  events::encodeEvents(document, name, out);
  out.close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usageError("missing command");
  const std::string command = args.front();
  args.erase(args.begin());
  try {
    if (command == "--help" || command == "-h" || command == "help") {
      std::cout << kUsage;
      return 0;
    }
    if (command == "print") return print(args);
    if (command == "encode") return encode(args);
    return usageError("unknown command " + command);
  } catch (const error::Exception& e) {
    std::cout.flush();
    std::cerr << "halcyx-events: " << e.text() << '\n';
    return 1;
  }
}
