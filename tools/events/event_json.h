#pragma once
// The JSON form of events: what a person reads and writes when looking at
// captured traffic or preparing input for a test. Every event type has one,
// derived from its payload's field list, so it holds exactly what the wire
// form carries:
//
//   {"type": "IMMEDIATE_STATE", "dest": "dbms", "inresponse": 0,
//    "data": {"id": "0.1.5", "state": 3}}
//   {"type": "MESSAGE_EXCEPTION", "dest": "main", "inresponse": 7,
//    "exception": "no such metric"}
//
// Rules, by the kind of value:
// - event types and queues: their names ("IMMEDIATE_STATE", "dbms"), or
//   numbers;
// - a payload record: an object with one member per field, in wire order
//   (missing members keep their zero value; unknown members are an error);
//   a payload that is a single value (an id, a number, a list) is that value;
// - integers and doubles: numbers (a double that is not finite: "nan",
//   "inf", "-inf"); booleans: true/false;
// - texts: strings; a text that is not valid UTF-8: {"hex": "c3 28"};
// - object ids: "0.1.5" ("" for the empty id); versions:
//   {"major": 1, "minor": 0}; times: {"sec": 1700000000, "usec": 0} (a plain
//   number of seconds is also read);
// - lists, vectors and sets: arrays; pairs: two-element arrays; other maps:
//   arrays of {"key": ..., "value": ...};
// - a class number in a field named class_: the class name ("Check");
//   property numbers in wanted_properties: property names;
// - properties: {"type": "int", "property": "warn", "value": 50}, plus
//   "null": true and "aux": N when set. Types: string, string_list,
//   object_set, object (also "extraId1", "extraId2", "extraWord"), version
//   ("major", "minor" instead of "value"), action, real, bignum (a decimal
//   string), gid, gid_list, date, index, int, uint, boolean, blob and lob (hex
//   strings), oid, enum ("enumType" and "value"). In an object's properties
//   the member name is the property name (or number) and "property" is left
//   out;
// - a nested event: its JSON form.
#include <nlohmann/json.hpp>
#include <string>

#include "error/exception.h"
#include "queues/event.h"

namespace events {

using Json = nlohmann::ordered_json;

// Input that does not describe an event. The text is the place in the
// document as a JSON pointer ("/3/data/id", "" for the whole document), ": "
// and what is wrong there.
class EJsonInput : public error::MessageException {
 public:
  EJsonInput(std::string pointer, std::string problem)
      : MessageException((pointer.empty() ? std::string("(top)") : pointer) + ": " + problem),
        pointer_(std::move(pointer)),
        problem_(std::move(problem)) {}
  const std::string& pointer() const { return pointer_; }
  const std::string& problem() const { return problem_; }

 private:
  std::string pointer_;
  std::string problem_;
};

// The JSON form of an event, header and payload.
Json eventToJson(const queues::event& ev);

// The event a JSON value describes; `pointer` is where the value sits in its
// document (for error texts). Throws EJsonInput.
queues::EventPtr eventFromJson(const Json& value, const std::string& pointer = "");

// A JSON pointer one step below `pointer`.
std::string childPointer(const std::string& pointer, const std::string& key);
std::string childPointer(const std::string& pointer, std::size_t index);

// A short text of a JSON value for error messages: the value itself, cut
// to a few dozen characters.
std::string shortText(const Json& value);

}  // namespace events
