#pragma once
// Payloads of the alert process's events (namespace alert). Only the status
// change notification has fields here; the rest are private to the alert
// process and its clients.
#include <cstdint>
#include <string>

#include "queues/record.h"
#include "tql/id.h"

namespace alert {

// OBJECT_STATUS_CHANGE (165): an object's status changed, possibly through a
// user's action (`user` empty otherwise).
struct Object_Status_Change_Data {
  tql::id_t object;
  tql::id_t node;
  std::uint32_t old_status = 0;
  std::uint32_t new_status = 0;
  tql::id_t user;
  std::string comment;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("object", s.object);
    visit("node", s.node);
    visit("old_status", s.old_status);
    visit("new_status", s.new_status);
    visit("user", s.user);
    visit("comment", s.comment);
  }
};

HX_EMPTY_RECORD(Forecast_Warning_Data);  // 163
HX_EMPTY_RECORD(Generic_Notify_Data);    // 164
HX_EMPTY_RECORD(Pager_Page_Data);        // 166
HX_EMPTY_RECORD(Pager_Status_Data);      // 167
HX_EMPTY_RECORD(Mailer_Mail_Data);       // 169
HX_EMPTY_RECORD(Mailer_Status_Data);     // 170
}  // namespace alert
