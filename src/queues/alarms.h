#pragma once
// Payloads of the alarm process's own events (namespace alarms, types 178
// to 184): check states, check-ins, acknowledgements and score resets sent
// to it, and the statuses it writes to the database.
#include <cstdint>
#include <list>
#include <string>

#include "queues/record.h"
#include "queues/tql_values.h"
#include "tql/id.h"

namespace alarms {

// IMMEDIATE_STATE (178): a check's new state (0 good, 1 unknown, 2 warning,
// 3 alert).
struct Immediate_State_Data {
  tql::id_t id;
  std::int32_t state = 0;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("id", s.id);
    visit("state", s.state);
  }
};

// IMMEDIATE_STATES (179): several states, in the order sent.
struct Immediate_States_Data {
  std::list<Immediate_State_Data> states;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("states", s.states);
  }
};

// CHECKIN (180): a node checked in.
struct Checkin_Data {
  tql::id_t id;
  std::int64_t checkin_time = 0;  // seconds since 1970

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("id", s.id);
    visit("checkin_time", s.checkin_time);
  }
};

// ACKNOWLEDGE_ALERT (181).
struct Acknowledge_Alert_Data {
  tql::id_t user;
  std::string comment;
  tql::id_t object;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("user", s.user);
    visit("comment", s.comment);
    visit("object", s.object);
  }
};

// RESET_SCORE (182).
struct Reset_Score_Data {
  tql::id_t user;
  std::string comment;
  tql::id_t object;
  bool recursive = false;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("user", s.user);
    visit("comment", s.comment);
    visit("object", s.object);
    visit("recursive", s.recursive);
  }
};

// SET_STATUS (183): an object's new status, with the times (seconds) it
// entered warning and alert, 0 while below them.
struct Set_Status_Data {
  tql::id_t id;
  std::uint32_t status = 0;
  std::int64_t entered_warn = 0;
  std::int64_t entered_alert = 0;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("id", s.id);
    visit("status", s.status);
    visit("entered_warn", s.entered_warn);
    visit("entered_alert", s.entered_alert);
  }
};

// ALARM_NOTIFY (184).
struct Alarm_Notify_Data {
  tql::id_t id;
  tql::version_t seq;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("id", s.id);
    visit("seq", s.seq);
  }
};

}  // namespace alarms
