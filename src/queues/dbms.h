#pragma once
// Payloads of the events exchanged with the database process (namespace
// dbms): incident log and status writes, late check-ins, TQL selects with
// their full replies and patches, deletes and forgets. Payloads of DBMS
// events that this process neither sends nor handles are empty records.
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "queues/record.h"
#include "queues/tql_values.h"
#include "tql/id.h"

namespace dbms {

// Error details of a reply: (code, text) pairs.
using Details = std::list<std::pair<std::int32_t, std::string>>;

// PUT_INCIDENTLOG (52): one line of a host's incident log.
struct Put_IncidentLog_Data {
  std::int64_t time = 0;  // seconds since 1970
  tql::id_t host_id;
  std::string text;
  std::uint32_t level = 0;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("time", s.time);
    visit("host_id", s.host_id);
    visit("text", s.text);
    visit("level", s.level);
  }
};

// LATE_CHECKIN (65): a node missed its check-in.
struct Late_Checkin_Data {
  tql::id_t node;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("node", s.node);
  }
};

// TQL_SELECT (79): a select, kept open as a subscription.
struct Tql_Select_Data {
  std::list<tql::id_t> root_ids;
  tql::pattern_t pattern;
  std::int32_t flags = 0;
  std::int64_t min_eval_interval = 0;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("root_ids", s.root_ids);
    visit("pattern", s.pattern);
    visit("flags", s.flags);
    visit("min_eval_interval", s.min_eval_interval);
  }
};

// RETURN_TQL_SELECT (80): the full result of a select.
struct Return_Tql_Select_Data {
  std::int32_t status = 0;
  Details details;
  std::vector<tql::object_ptr> res;

  Return_Tql_Select_Data() = default;
  Return_Tql_Select_Data(const Return_Tql_Select_Data& other);
  Return_Tql_Select_Data& operator=(const Return_Tql_Select_Data& other);
  Return_Tql_Select_Data(Return_Tql_Select_Data&&) noexcept = default;
  Return_Tql_Select_Data& operator=(Return_Tql_Select_Data&&) noexcept = default;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("status", s.status);
    visit("details", s.details);
    visit("res", s.res);
  }
};

// RETURN_TQL_SELECT_PATCH (81): the chain of objects from the subscription's
// root down to the object `id`, which carries its new subtree.
struct Return_Tql_Select_Patch_Data {
  tql::id_t id;
  tql::object_ptr patch;
  tql::version_t seq;

  Return_Tql_Select_Patch_Data() = default;
  Return_Tql_Select_Patch_Data(const Return_Tql_Select_Patch_Data& other);
  Return_Tql_Select_Patch_Data& operator=(const Return_Tql_Select_Patch_Data& other);
  Return_Tql_Select_Patch_Data(Return_Tql_Select_Patch_Data&&) noexcept = default;
  Return_Tql_Select_Patch_Data& operator=(Return_Tql_Select_Patch_Data&&) noexcept = default;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("id", s.id);
    visit("patch", s.patch);
    visit("seq", s.seq);
  }
};

// RETURN_TQL_SELECT_DELETE_PATCH (82): the object `id` and its subtree are
// gone.
struct Return_Tql_Select_Delete_Patch_Data {
  tql::id_t id;
  tql::version_t seq;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("id", s.id);
    visit("seq", s.seq);
  }
};

// TQL_DELETE (87).
struct Tql_Delete_Data {
  tql::id_t id;
  tql::version_t version;
  tql::id_t user_id;
  bool clear_master_id = false;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("id", s.id);
    visit("version", s.version);
    visit("user_id", s.user_id);
    visit("clear_master_id", s.clear_master_id);
  }
};

// RETURN_TQL_DELETE (88).
struct Return_Tql_Delete_Data {
  std::int32_t status = 0;
  Details details;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("status", s.status);
    visit("details", s.details);
  }
};

// TQL_FORGET (110): ends the subscription opened by request `req_id_to_forget`.
struct Tql_Forget_Data {
  std::uint32_t req_id_to_forget = 0;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("req_id_to_forget", s.req_id_to_forget);
  }
};

// RETURN_TQL_FORGET (111).
struct Return_Tql_Forget_Data {
  std::uint32_t forgotten_req_id = 0;
  std::int32_t status = 0;
  Details details;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("forgotten_req_id", s.forgotten_req_id);
    visit("status", s.status);
    visit("details", s.details);
  }
};

// Payloads private to the database process and its other clients: this
// process never looks inside them.
HX_EMPTY_RECORD(Data_RemCheck_Data);                       // 46
HX_EMPTY_RECORD(Data_SnmpCheck_Continuous_Data);           // 47
HX_EMPTY_RECORD(Data_SnmpCheck_Enum_Data);                 // 48
HX_EMPTY_RECORD(Data_SnmpCheck_Uptime_Data);               // 49
HX_EMPTY_RECORD(Data_DomainExport_State_Data);             // 50
HX_EMPTY_RECORD(Put_Check_State_Data);                     // 51
HX_EMPTY_RECORD(Return_Host_Configured_State_Data);        // 53
HX_EMPTY_RECORD(Set_Host_Reconfigured_Data);               // 55
HX_EMPTY_RECORD(Set_Host_Rescan_Data);                     // 56
HX_EMPTY_RECORD(Checkin_Start_Data);                       // 57
HX_EMPTY_RECORD(Checkin_Complete_Data);                    // 59
HX_EMPTY_RECORD(Checkin_Abort_Data);                       // 61
HX_EMPTY_RECORD(Data_AgentCheck_Data);                     // 62
HX_EMPTY_RECORD(Return_Data_AgentCheck_Data);              // 63
HX_EMPTY_RECORD(Host_Rebooted_Data);                       // 64
HX_EMPTY_RECORD(Audit_Event_Data);                         // 72
HX_EMPTY_RECORD(Return_Tql_Class_Names_Data);              // 74
HX_EMPTY_RECORD(Return_Tql_Property_Names_Data);           // 76
HX_EMPTY_RECORD(Tql_Create_Data);                          // 83
HX_EMPTY_RECORD(Return_Tql_Create_Data);                   // 84
HX_EMPTY_RECORD(Tql_Update_Data);                          // 85
HX_EMPTY_RECORD(Return_Tql_Update_Data);                   // 86
HX_EMPTY_RECORD(Tql_Simple_Subscribe_Data);                // 89
HX_EMPTY_RECORD(Return_Tql_Simple_Subscribe_Data);         // 90
HX_EMPTY_RECORD(NodeClass_Translate_Data);                 // 91
HX_EMPTY_RECORD(Return_NodeClass_Translate_Data);          // 92
HX_EMPTY_RECORD(User_Acknowledge_Alert_Data);              // 93
HX_EMPTY_RECORD(User_Reset_Score_Data);                    // 94
HX_EMPTY_RECORD(TSDB_Get_Data_Data);                       // 95
HX_EMPTY_RECORD(Return_TSDB_Get_Data_Data);                // 96
HX_EMPTY_RECORD(TSDB_Put_Data_Data);                       // 97
HX_EMPTY_RECORD(Return_TSDB_Put_Data_Data);                // 98
HX_EMPTY_RECORD(TSDB_Merge_Data_Data);                     // 99
HX_EMPTY_RECORD(Return_TSDB_Merge_Data_Data);              // 100
HX_EMPTY_RECORD(TSDB_Get_Latest_Data_Record_Data);         // 101
HX_EMPTY_RECORD(Return_TSDB_Get_Latest_Data_Record_Data);  // 102
HX_EMPTY_RECORD(TSDB_Append_Data_Record_Data);             // 103
HX_EMPTY_RECORD(Return_TSDB_Append_Data_Record_Data);      // 104
HX_EMPTY_RECORD(TSDB_Append_Data_Data);                    // 105
HX_EMPTY_RECORD(Return_TSDB_Append_Data_Data);             // 106
HX_EMPTY_RECORD(TSDB_Truncate_Old_Data_Data);              // 107
HX_EMPTY_RECORD(Return_TSDB_Truncate_Old_Data_Data);       // 108
HX_EMPTY_RECORD(Tql_Acknowledge_Data);                     // 109
HX_EMPTY_RECORD(Update_NetChecks_Data);                    // 112
HX_EMPTY_RECORD(Return_NetCheck_Info_Data);                // 114
HX_EMPTY_RECORD(Get_First_ID_Data);                        // 115
HX_EMPTY_RECORD(Return_ID_Data);                           // 116
HX_EMPTY_RECORD(Get_Next_ID_Data);                         // 117
HX_EMPTY_RECORD(Get_First_MasterID_Data);                  // 118
HX_EMPTY_RECORD(Return_MasterID_Data);                     // 119
HX_EMPTY_RECORD(Get_Next_MasterID_Data);                   // 120
HX_EMPTY_RECORD(Get_Trace_Data);                           // 121
HX_EMPTY_RECORD(Return_Trace_Data);                        // 122
HX_EMPTY_RECORD(Get_Deleted_Data);                         // 123
HX_EMPTY_RECORD(Get_Deleted_MasterId_Data);                // 124
HX_EMPTY_RECORD(Return_Deleted_Data);                      // 125
HX_EMPTY_RECORD(Retire_Deleted_Data);                      // 126
HX_EMPTY_RECORD(Add_Candidate_Node_Data);                  // 127

}  // namespace dbms
