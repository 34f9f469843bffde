#pragma once
// A scenario: the monitored object tree the simulated database holds, and a
// timeline of what happens to it, read from a JSON document.
//
//   {
//     "title": "Two servers behind a router",
//     "logMask": 0,
//     "tree": {"label": "Acme", "nodes": [
//       {"label": "router", "checks": [{"label": "Ping"}]},
//       {"label": "web01", "dependsOn": ["router"], "checkinFrequency": 60,
//        "checks": [{"label": "HTTP", "alertStrategy": "score", "warnScore": 40}]}]},
//     "timeline": [
//       {"at": 3, "do": "state", "object": "web01/HTTP", "state": "warn"},
//       {"at": 9, "do": "acknowledge", "object": "web01/HTTP", "user": "alice",
//        "comment": "known issue"},
//       {"at": 12, "do": "end"}],
//     "expect": {"web01/HTTP": "GOOD"}
//   }
//
// Objects are named by their path of labels below the root ("web01/HTTP");
// "/" names the root. Times in the timeline and in downtime events are
// seconds after the start of the run (the moment the alarm process
// subscribes). The full format is in the simulator's --help.
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "error/exception.h"
#include "sim/names.h"
#include "tql/id.h"
#include "tql/property.h"

namespace sim {

using Json = nlohmann::ordered_json;

// A scenario that cannot run. The text is the file, the place in the
// document as a JSON pointer, and the problem:
//   demo.json: /timeline/4/object: no object "web01/HTPP" ...
class EScenario : public error::MessageException {
 public:
  using MessageException::MessageException;
};

// A problem found at a place in the document, before the file name is known
// to the code that finds it.
class EAtPlace : public error::MessageException {
 public:
  EAtPlace(std::string pointer, std::string problem)
      : MessageException((pointer.empty() ? std::string("(top)") : pointer) + ": " + problem) {}
};

// Property values that an object's scenario entry sets. Plain values are
// ready-made properties; object references and times relative to the start
// of the run are resolved when the object enters the tree.
struct PropertySpec {
  std::map<std::uint32_t, tql::property_ptr> values;
  // `dependsOn` as paths of labels, when given.
  std::optional<std::vector<std::string>> dependsOn;
  // Property number to seconds after the start, with the property's type
  // (date or int) taken from the property table.
  std::map<std::uint32_t, double> relative;

  PropertySpec() = default;
  PropertySpec(const PropertySpec& other);
  PropertySpec& operator=(const PropertySpec& other);
  PropertySpec(PropertySpec&&) noexcept = default;
  PropertySpec& operator=(PropertySpec&&) noexcept = default;

  bool empty() const { return values.empty() && !dependsOn && relative.empty(); }
};

struct ObjectSpec {
  Kind kind = Kind::domain;
  std::string label;
  std::optional<tql::id_t> id;  // chosen by the simulator when not given
  PropertySpec properties;      // every property of the kind, defaults filled in
  // The check state the database reports once the object exists.
  std::optional<std::uint32_t> state;
  // Nodes: whether the database reports a check-in once the node exists,
  // and the state it reports for the node when the alarm says it is late.
  bool initialCheckin = false;
  std::uint32_t lateState = 3;
  std::vector<ObjectSpec> children;
  std::string pointer;  // where the entry is in the document
};

enum class ActionType {
  state,        // IMMEDIATE_STATE for one object
  states,       // IMMEDIATE_STATES for several
  checkin,      // CHECKIN for a node
  acknowledge,  // ACKNOWLEDGE_ALERT
  reset,        // RESET_SCORE
  set,          // change properties (a patch)
  add,          // add an object with its subtree (a patch)
  move,         // move an object to another parent (a patch)
  remove,       // delete an object (a delete patch)
  note,         // a line of narration in the output
  kill,         // a sibling process dies (SIGKILL)
  end,          // the end of the scenario
};

// The processes a `kill` action can end.
enum class Sibling { dbms, alert, alarm };

struct Action {
  double at = 0;
  ActionType type = ActionType::note;
  std::string pointer;  // the timeline entry, for messages
  std::string object;   // the object acted on (the parent for `add`)
  std::string target;   // `move`: the new parent
  std::uint32_t state = 0;
  std::vector<std::pair<std::string, std::uint32_t>> states;
  std::string user;
  std::string comment;
  bool recursive = false;
  // `set`: the new values as written, read against the object's kind when
  // the action runs (the kind is only known once the path is resolved).
  Json properties;
  std::optional<ObjectSpec> added;   // `add`
  std::string text;                  // `note`
  Sibling sibling = Sibling::alarm;  // `kill`
};

// "dbms", "alert" or "alarm", or nothing for another text.
std::optional<Sibling> siblingNamed(const std::string& name);
std::string siblingName(Sibling sibling);

struct Expectation {
  std::string object;
  std::uint32_t status = 0;
  std::string pointer;
};

struct Scenario {
  std::string file;  // as named on the command line, for messages
  std::string title;
  std::string description;
  std::int32_t logMask = 0;
  ObjectSpec root;
  std::vector<Action> timeline;  // by time; actions at the same time in file order
  std::vector<Expectation> expect;
  // When the scenario ends: its "end" action, else its "duration", else
  // two seconds after the last action.
  double endsAt = 0;
};

// Reads a scenario document. Throws EScenario naming `fileName`, the place
// and the problem for a syntax error, a missing or unknown member, a value
// of the wrong type or range, and for a timeline that refers to objects that
// do not exist at that time or changes the tree in a way it cannot change
// (checked by running the tree changes of the timeline once).
Scenario parseScenario(const std::string& document, const std::string& fileName);

// The property changes of a `set` action for an object of the given kind.
// Throws EAtPlace.
PropertySpec parsePropertyChanges(Kind kind, const Json& properties, const std::string& pointer);

// The names of the properties a scenario may set on an object of the kind,
// as written in a scenario ("warnScore", "until"), comma separated.
std::string propertyKeys(Kind kind);

}  // namespace sim
