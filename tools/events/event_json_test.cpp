#include "events/event_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "queues/devent.h"
#include "testkit/events.h"
#include "tql/schema.h"

namespace events {
namespace {

using testkit::encode;
using testkit::SampleFiller;

// Every ordinary event type, filled with sample values, survives the trip
// through JSON text byte for byte.
template <std::size_t N>
void expectRoundTrip() {
  if constexpr (queues::isEventType(N) && N != queues::MESSAGE_EXCEPTION) {
    queues::devent_t<queues::event_t(N)> ev(queues::QUEUE_ALRM, 1000 + N);
    SampleFiller(static_cast<std::uint32_t>(N)).fill(ev.data);
    const std::string text = eventToJson(ev).dump();
    const queues::EventPtr back = eventFromJson(Json::parse(text));
    EXPECT_EQ(encode(*back), encode(ev)) << queues::eventName(ev.type) << ": " << text;
  }
}

template <std::size_t... N>
void expectRoundTrips(std::index_sequence<N...>) {
  (expectRoundTrip<N>(), ...);
}

TEST(EventJson, EveryEventTypeRoundTripsExactly) {
  expectRoundTrips(std::make_index_sequence<queues::kLastEventType + 1>());
}

TEST(EventJson, HandWrittenInputMayLeaveFieldsOut) {
  const queues::EventPtr ev = eventFromJson(Json::parse(R"(
    {"type": "RETURN_TQL_SELECT", "dest": 2, "inresponse": 9,
     "data": {"res": [{"class_": "Domain", "id": "0.1",
                       "properties": {"stationLocale": {"type": "uint", "null": true}},
                       "children": [{"class_": 4, "id": "1.2"}]}]}})"));
  const auto& select = dynamic_cast<const queues::devent_t<queues::RETURN_TQL_SELECT>&>(*ev);
  EXPECT_EQ(select.dest, queues::QUEUE_DBMS);
  EXPECT_EQ(select.inresponse, 9u);
  ASSERT_EQ(select.data.res.size(), 1u);
  const tql::object_t& root = *select.data.res[0];
  EXPECT_EQ(root.class_, tql::cls::Domain);
  const tql::property_t& locale = *root.properties.at(tql::prop::stationLocale);
  EXPECT_TRUE(locale.isNull);
  EXPECT_EQ(locale.property, tql::prop::stationLocale);
  EXPECT_EQ(root.children.at(0)->id, tql::id_t({1, 2}));
}

TEST(EventJson, TextThatIsNotUtf8TravelsAsHex) {
  queues::devent_t<queues::SYSTEM_LOG_REQUEST> log(queues::QUEUE_MAIN, 1);
  log.data.msg = std::string("caf\xc3\xa9 \xff\x00!", 9);
  const Json j = eventToJson(log);
  EXPECT_EQ(j["data"]["msg"].dump(), R"({"hex":"63 61 66 c3 a9 20 ff 00 21"})");
  EXPECT_EQ(encode(*eventFromJson(Json::parse(j.dump()))), encode(log));
  log.data.msg = "caf\xc3\xa9";  // valid UTF-8 stays a string
  EXPECT_TRUE(eventToJson(log)["data"]["msg"].is_string());
  // Overlong and cut-short sequences are not UTF-8.
  for (const char* bad : {"\xc0\xaf", "\xe2\x82", "\xed\xa0\x80"}) {
    log.data.msg = bad;
    EXPECT_TRUE(eventToJson(log)["data"]["msg"].is_object()) << bad;
  }
}

TEST(EventJson, DoublesThatAreNotFiniteHaveNames) {
  queues::devent_t<queues::RETURN_METRIC_DOUBLE> metric(queues::QUEUE_MAIN, 2, NAN);
  EXPECT_EQ(eventToJson(metric)["data"], "nan");
  const queues::EventPtr back =
      eventFromJson(Json::parse(R"({"type": "RETURN_METRIC_DOUBLE", "dest": 0, "data": "-inf"})"));
  EXPECT_EQ(dynamic_cast<const queues::devent_t<queues::RETURN_METRIC_DOUBLE>&>(*back).data,
            -INFINITY);
}

// --- Bad input: each case names the place and the problem. ---

std::string errorFor(const std::string& document) {
  try {
    eventFromJson(Json::parse(document));
  } catch (const EJsonInput& e) {
    return e.text();
  }
  return "(no error)";
}

TEST(EventJsonErrors, NameThePlaceAndTheProblemAlsoInPropertiesAndNestedEvents) {
  EXPECT_EQ(errorFor(R"({"type": "IMMEDIATE_STATE", "dest": "dbms", "data": {"id": 5}})"),
            R"(/data/id: expected an object id such as "0.1.5", found 5)");
  EXPECT_EQ(errorFor(R"({"type": "IMMEDIATE_STATE", "dest": "dbms", "data": {"state": 1e3}})"),
            "/data/state: expected an integer from -2147483648 to 2147483647, found 1000.0");
  EXPECT_EQ(errorFor(R"({"type": 196, "dest": "dbms"})"),
            "/type: expected an event type name or a number from 1 to 195, found 196");
  EXPECT_EQ(errorFor(R"({"type": "SYS_EXIT"})"), R"((top): an event needs a "dest")");
  EXPECT_EQ(errorFor(R"({"type": "CHECKIN", "dest": 2, "data": {"id": "1.2.3.4"}})"),
            R"(/data/id: expected an object id such as "0.1.5" (at most three numbers), )"
            R"(found "1.2.3.4")");
  const std::string select =
      R"({"type": "RETURN_TQL_SELECT", "dest": "dbms", "data": {"res": [{"properties": )";
  EXPECT_EQ(errorFor(select + R"({"warn": {"type": "integer", "value": 3}}}]}})"),
            "/data/res/0/properties/warn/type: unknown property type \"integer\" (string, "
            "string_list, object_set, object, version, action, real, bignum, gid, gid_list, date, "
            "index, int, uint, boolean, blob, lob, oid, enum)");
  EXPECT_EQ(errorFor(select + R"({"comment": {"type": "blob", "value": "abc"}}}]}})"),
            R"(/data/res/0/properties/comment/value: odd number of hex digits in "abc")");
  // A property's number shares a word with its null flag, and a property in
  // an object's map is filed under its own number.
  EXPECT_EQ(errorFor(select + R"({"2147483648": {"type": "int", "value": 3}}}]}})"),
            "/data/res/0/properties/2147483648: property number 2147483648 out of range "
            "(at most 2147483647)");
  EXPECT_EQ(errorFor(R"({"type": "TQL_SELECT", "dest": "dbms", "data": {"pattern": {"where": )"
                     R"([{"prop": {"type": "int", "property": 4294967295, "value": 1}}]}}})"),
            "/data/pattern/where/0/prop/property: property number 4294967295 out of range "
            "(at most 2147483647)");
  EXPECT_EQ(errorFor(select + R"({"warn": {"type": "int", "property": "alert", "value": 3}}}]}})"),
            "/data/res/0/properties/warn/property: property alert under the key of property warn");
  EXPECT_EQ(errorFor(R"({"type": "SCHEDULE_EVENT_RELATIVE", "dest": "schd",
                         "data": {"ev": {"type": "SYS_EXIT", "dest": "alrm",
                                         "data": {"code": "x"}}}})"),
            "/data/ev/data/code: expected an integer from -2147483648 to 2147483647, found \"x\"");
  // Exception replies have a text and no data.
  EXPECT_EQ(errorFor(R"({"type": "MESSAGE_EXCEPTION", "dest": "main"})"),
            R"((top): a MESSAGE_EXCEPTION needs an "exception" text)");
  EXPECT_EQ(errorFor(R"({"type": "SYS_EXIT", "dest": "main", "exception": "x"})"),
            "/type: an exception reply has the type MESSAGE_EXCEPTION");
}

}  // namespace
}  // namespace events
