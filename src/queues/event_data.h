#pragma once
// The payload type of every event type: event_data_t<N> is the `Data` of
// devent<N, Data>. The table covers 1 to 194; 195 (MESSAGE_EXCEPTION) has no
// devent, its events are exevents.
#include <cstdint>
#include <list>
#include <set>
#include <string>

#include "queues/alarms.h"
#include "queues/alert.h"
#include "queues/control.h"
#include "queues/dbms.h"
#include "queues/other_payloads.h"
#include "queues/scheduler.h"
#include "queues/types.h"
#include "tql/id.h"

namespace queues {

template <event_t N>
struct event_data;

template <event_t N>
using event_data_t = typename event_data<N>::type;

#define HX_EVENT_DATA(number, Data) \
  template <>                       \
  struct event_data<number> {       \
    using type = Data;              \
  }

HX_EVENT_DATA(DAEMONIZE_SYSTEM, std::int32_t);
HX_EVENT_DATA(SYS_EXIT, ::control::Sys_Exit_Data);
HX_EVENT_DATA(INIT_OK, ::control::Init_Ok_Data);
HX_EVENT_DATA(SYSTEM_LOG_REQUEST, ::control::Log_Request_Data);
HX_EVENT_DATA(SERVER_CONFIGURATION, ::control::Server_Configuration_Fields);
HX_EVENT_DATA(REQUEST_SERVER_CONFIGURATION, std::int32_t);
HX_EVENT_DATA(REQUEST_SERVER_VARIABLE_FIELDS, std::int32_t);
HX_EVENT_DATA(RETURN_SERVER_VARIABLE_FIELDS, ::control::Server_Variable_Fields);
HX_EVENT_DATA(STORE_SERVER_VARIABLE_FIELDS, ::control::Server_Variable_Fields);
HX_EVENT_DATA(REQUEST_SPAWN_PROCESS, queue_t);
HX_EVENT_DATA(GET_PURE_ENTROPY, std::int32_t);
HX_EVENT_DATA(RETURN_PURE_ENTROPY, std::string);
HX_EVENT_DATA(GET_PSEUDO_RANDOM, ::control::Get_Pseudo_Random_Data);
HX_EVENT_DATA(RETURN_PSEUDO_RANDOM, std::string);
HX_EVENT_DATA(GET_METRIC, ::control::Get_Metric_Data);
HX_EVENT_DATA(RETURN_METRIC_ERROR, std::string);
HX_EVENT_DATA(RETURN_METRIC_UINT64, std::uint64_t);
HX_EVENT_DATA(RETURN_METRIC_DOUBLE, double);
HX_EVENT_DATA(RETURN_METRIC_TIMING, ::control::Return_Metric_Timing_Data);
HX_EVENT_DATA(LIST_METRICS, std::int32_t);
HX_EVENT_DATA(RETURN_LIST_METRICS, ::control::Metric_Group);
HX_EVENT_DATA(GET_METRIC_TYPE, ::control::Get_Metric_Type_Data);
HX_EVENT_DATA(RETURN_GET_METRIC_TYPE, ::control::Metric);
HX_EVENT_DATA(SUPPORTS_METRICS, std::int32_t);
HX_EVENT_DATA(CREATE_TIMESERIES, ::tsdb::time_series_layout_t);
HX_EVENT_DATA(RETURN_CREATE_TIMESERIES, std::uint32_t);
HX_EVENT_DATA(DELETE_TIMESERIES, std::uint32_t);
HX_EVENT_DATA(RETURN_DELETE_TIMESERIES, std::int32_t);
HX_EVENT_DATA(DESCRIBE_TIMESERIES, std::uint32_t);
HX_EVENT_DATA(RETURN_DESCRIBE_TIMESERIES, ::tsdb::time_series_layout_t);
HX_EVENT_DATA(GET_DATA, ::tsdb::Get_Data_Data);
HX_EVENT_DATA(RETURN_GET_DATA, ::tsdb::Return_Get_Data_Data);
HX_EVENT_DATA(PUT_DATA, ::tsdb::Put_Data_Data);
HX_EVENT_DATA(RETURN_PUT_DATA_ALLOC, std::uint32_t);
HX_EVENT_DATA(TRUNCATE_OLD_DATA, ::tsdb::Truncate_Old_Data_Data);
HX_EVENT_DATA(RETURN_TRUNCATE_OLD_DATA, std::int32_t);
HX_EVENT_DATA(FIND_OLDEST_RECORD, std::int32_t);
HX_EVENT_DATA(RETURN_FIND_OLDEST_RECORD, std::int64_t);
HX_EVENT_DATA(RECOVERY_CHECKSUM_TIMESERIES, std::uint32_t);
HX_EVENT_DATA(RETURN_RECOVERY_CHECKSUM_TIMESERIES, std::string);
HX_EVENT_DATA(RECOVERY_EXTRACT_TIMESERIES, std::uint32_t);
HX_EVENT_DATA(RETURN_RECOVERY_EXTRACT_TIMESERIES, std::string);
HX_EVENT_DATA(RECOVERY_MERGE_TIMESERIES, ::tsdb::Recovery_Merge_TimeSeries_Data);
HX_EVENT_DATA(RETURN_RECOVERY_MERGE_TIMESERIES, std::int32_t);
HX_EVENT_DATA(REQUEST_RESULT, std::int32_t);
HX_EVENT_DATA(DATA_REMCHECK, ::dbms::Data_RemCheck_Data);
HX_EVENT_DATA(DATA_SNMPCHECK_CONTINUOUS, ::dbms::Data_SnmpCheck_Continuous_Data);
HX_EVENT_DATA(DATA_SNMPCHECK_ENUM, ::dbms::Data_SnmpCheck_Enum_Data);
HX_EVENT_DATA(DATA_SNMPCHECK_UPTIME, ::dbms::Data_SnmpCheck_Uptime_Data);
HX_EVENT_DATA(DATA_DOMAINEXPORT_STATE, ::dbms::Data_DomainExport_State_Data);
HX_EVENT_DATA(PUT_CHECK_STATE, ::dbms::Put_Check_State_Data);
HX_EVENT_DATA(PUT_INCIDENTLOG, ::dbms::Put_IncidentLog_Data);
HX_EVENT_DATA(RETURN_HOST_CONFIGURED_STATE, ::dbms::Return_Host_Configured_State_Data);
HX_EVENT_DATA(GET_HOST_CONFIGURED_STATE, tql::id_t);
HX_EVENT_DATA(SET_HOST_RECONFIGURED, ::dbms::Set_Host_Reconfigured_Data);
HX_EVENT_DATA(SET_HOST_RESCAN, ::dbms::Set_Host_Rescan_Data);
HX_EVENT_DATA(CHECKIN_START, ::dbms::Checkin_Start_Data);
HX_EVENT_DATA(RETURN_CHECKIN_START, std::int32_t);
HX_EVENT_DATA(CHECKIN_COMPLETE, ::dbms::Checkin_Complete_Data);
HX_EVENT_DATA(RETURN_CHECKIN_COMPLETE, std::int32_t);
HX_EVENT_DATA(CHECKIN_ABORT, ::dbms::Checkin_Abort_Data);
HX_EVENT_DATA(DATA_AGENTCHECK, ::dbms::Data_AgentCheck_Data);
HX_EVENT_DATA(RETURN_DATA_AGENTCHECK, ::dbms::Return_Data_AgentCheck_Data);
HX_EVENT_DATA(HOST_REBOOTED, ::dbms::Host_Rebooted_Data);
HX_EVENT_DATA(LATE_CHECKIN, ::dbms::Late_Checkin_Data);
HX_EVENT_DATA(GET_LAST_CHECKIN_TIME, tql::id_t);
HX_EVENT_DATA(RETURN_LAST_CHECKIN_TIME, std::int64_t);
HX_EVENT_DATA(CLEAR_FIRE_FLAG, std::list<tql::id_t>);
HX_EVENT_DATA(event_t(69), std::int32_t);  // reserved
HX_EVENT_DATA(event_t(70), std::int32_t);  // reserved
HX_EVENT_DATA(event_t(71), std::int32_t);  // reserved
HX_EVENT_DATA(AUDIT_EVENT, ::dbms::Audit_Event_Data);
HX_EVENT_DATA(GET_TQL_CLASS_NAMES, std::int32_t);
HX_EVENT_DATA(RETURN_TQL_CLASS_NAMES, ::dbms::Return_Tql_Class_Names_Data);
HX_EVENT_DATA(GET_TQL_PROPERTY_NAMES, std::int32_t);
HX_EVENT_DATA(RETURN_TQL_PROPERTY_NAMES, ::dbms::Return_Tql_Property_Names_Data);
HX_EVENT_DATA(GET_TQL_REPARENTABLE_CLASSES, std::int32_t);
HX_EVENT_DATA(RETURN_TQL_REPARENTABLE_CLASSES, std::set<std::uint32_t>);
HX_EVENT_DATA(TQL_SELECT, ::dbms::Tql_Select_Data);
HX_EVENT_DATA(RETURN_TQL_SELECT, ::dbms::Return_Tql_Select_Data);
HX_EVENT_DATA(RETURN_TQL_SELECT_PATCH, ::dbms::Return_Tql_Select_Patch_Data);
HX_EVENT_DATA(RETURN_TQL_SELECT_DELETE_PATCH, ::dbms::Return_Tql_Select_Delete_Patch_Data);
HX_EVENT_DATA(TQL_CREATE, ::dbms::Tql_Create_Data);
HX_EVENT_DATA(RETURN_TQL_CREATE, ::dbms::Return_Tql_Create_Data);
HX_EVENT_DATA(TQL_UPDATE, ::dbms::Tql_Update_Data);
HX_EVENT_DATA(RETURN_TQL_UPDATE, ::dbms::Return_Tql_Update_Data);
HX_EVENT_DATA(TQL_DELETE, ::dbms::Tql_Delete_Data);
HX_EVENT_DATA(RETURN_TQL_DELETE, ::dbms::Return_Tql_Delete_Data);
HX_EVENT_DATA(TQL_SIMPLE_SUBSCRIBE, ::dbms::Tql_Simple_Subscribe_Data);
HX_EVENT_DATA(RETURN_TQL_SIMPLE_SUBSCRIBE, ::dbms::Return_Tql_Simple_Subscribe_Data);
HX_EVENT_DATA(NODECLASS_TRANSLATE, ::dbms::NodeClass_Translate_Data);
HX_EVENT_DATA(RETURN_NODECLASS_TRANSLATE, ::dbms::Return_NodeClass_Translate_Data);
HX_EVENT_DATA(USER_ACKNOWLEDGE_ALERT, ::dbms::User_Acknowledge_Alert_Data);
HX_EVENT_DATA(USER_RESET_SCORE, ::dbms::User_Reset_Score_Data);
HX_EVENT_DATA(TSDB_GET_DATA, ::dbms::TSDB_Get_Data_Data);
HX_EVENT_DATA(RETURN_TSDB_GET_DATA, ::dbms::Return_TSDB_Get_Data_Data);
HX_EVENT_DATA(TSDB_PUT_DATA, ::dbms::TSDB_Put_Data_Data);
HX_EVENT_DATA(RETURN_TSDB_PUT_DATA, ::dbms::Return_TSDB_Put_Data_Data);
HX_EVENT_DATA(TSDB_MERGE_DATA, ::dbms::TSDB_Merge_Data_Data);
HX_EVENT_DATA(RETURN_TSDB_MERGE_DATA, ::dbms::Return_TSDB_Merge_Data_Data);
HX_EVENT_DATA(TSDB_GET_LATEST_DATA_RECORD, ::dbms::TSDB_Get_Latest_Data_Record_Data);
HX_EVENT_DATA(RETURN_TSDB_GET_LATEST_DATA_RECORD, ::dbms::Return_TSDB_Get_Latest_Data_Record_Data);
HX_EVENT_DATA(TSDB_APPEND_DATA_RECORD, ::dbms::TSDB_Append_Data_Record_Data);
HX_EVENT_DATA(RETURN_TSDB_APPEND_DATA_RECORD, ::dbms::Return_TSDB_Append_Data_Record_Data);
HX_EVENT_DATA(TSDB_APPEND_DATA, ::dbms::TSDB_Append_Data_Data);
HX_EVENT_DATA(RETURN_TSDB_APPEND_DATA, ::dbms::Return_TSDB_Append_Data_Data);
HX_EVENT_DATA(TSDB_TRUNCATE_OLD_DATA, ::dbms::TSDB_Truncate_Old_Data_Data);
HX_EVENT_DATA(RETURN_TSDB_TRUNCATE_OLD_DATA, ::dbms::Return_TSDB_Truncate_Old_Data_Data);
HX_EVENT_DATA(TQL_ACKNOWLEDGE, ::dbms::Tql_Acknowledge_Data);
HX_EVENT_DATA(TQL_FORGET, ::dbms::Tql_Forget_Data);
HX_EVENT_DATA(RETURN_TQL_FORGET, ::dbms::Return_Tql_Forget_Data);
HX_EVENT_DATA(UPDATE_NETCHECKS, ::dbms::Update_NetChecks_Data);
HX_EVENT_DATA(GET_NETCHECK_INFO, std::string);
HX_EVENT_DATA(RETURN_NETCHECK_INFO, ::dbms::Return_NetCheck_Info_Data);
HX_EVENT_DATA(GET_FIRST_ID, ::dbms::Get_First_ID_Data);
HX_EVENT_DATA(RETURN_ID, ::dbms::Return_ID_Data);
HX_EVENT_DATA(GET_NEXT_ID, ::dbms::Get_Next_ID_Data);
HX_EVENT_DATA(GET_FIRST_MASTERID, ::dbms::Get_First_MasterID_Data);
HX_EVENT_DATA(RETURN_MASTERID, ::dbms::Return_MasterID_Data);
HX_EVENT_DATA(GET_NEXT_MASTERID, ::dbms::Get_Next_MasterID_Data);
HX_EVENT_DATA(GET_TRACE, ::dbms::Get_Trace_Data);
HX_EVENT_DATA(RETURN_TRACE, ::dbms::Return_Trace_Data);
HX_EVENT_DATA(GET_DELETED, ::dbms::Get_Deleted_Data);
HX_EVENT_DATA(GET_DELETED_MASTERID, ::dbms::Get_Deleted_MasterId_Data);
HX_EVENT_DATA(RETURN_DELETED, ::dbms::Return_Deleted_Data);
HX_EVENT_DATA(RETIRE_DELETED, ::dbms::Retire_Deleted_Data);
HX_EVENT_DATA(ADD_CANDIDATE_NODE, ::dbms::Add_Candidate_Node_Data);
HX_EVENT_DATA(SCHEDULE_EVENT_ABSOLUTE, ::scheduler::Schedule_Event_Absolute_Data);
HX_EVENT_DATA(SCHEDULE_EVENT_RELATIVE, ::scheduler::Schedule_Event_Relative_Data);
HX_EVENT_DATA(REMOTE_CHECK, ::remcheck::Remote_Check_Data);
HX_EVENT_DATA(CHECK_TIMEOUT, ::remcheck::Check_Timeout_Data);
HX_EVENT_DATA(ICMP_REQUEST, ::remcheck::Icmp_Request_Data);
HX_EVENT_DATA(ICMP_ECHO_REPLY, ::remcheck::Icmp_Echo_Reply_Data);
HX_EVENT_DATA(CHECK_REQUEST, ::remcheck::remcheck_conf);
HX_EVENT_DATA(CHECK_RESULT, ::services::remcheck_stat);
HX_EVENT_DATA(SOCKETIO_TIDY_CACHES, std::int32_t);
HX_EVENT_DATA(REQSHAREDKEYGEN, ::socketio::ReqSharedKeyGen_Data);
HX_EVENT_DATA(SHAREDKEYREPLY, ::socketio::SharedKeyReply_Data);
HX_EVENT_DATA(REQFINALKEYGEN, ::socketio::ReqFinalKeyGen_Data);
HX_EVENT_DATA(FINALKEYREPLY, ::socketio::FinalKeyReply_Data);
HX_EVENT_DATA(GRIDLINKINITIATE, ::socketio::GridLinkInitiate_Data);
HX_EVENT_DATA(GRIDLINKSTATUSCHANGE, ::socketio::GridLinkStatusChange_Data);
HX_EVENT_DATA(GRIDLINKSHUTDOWN, ::socketio::GridLinkShutdown_Data);
HX_EVENT_DATA(GRIDLINKKEEPALIVE, ::socketio::GridLinkKeepAlive_Data);
HX_EVENT_DATA(GRIDLINKACTIVITY, ::socketio::GridLinkActivity_Data);
HX_EVENT_DATA(GRIDSYSTEMSHUTDOWN, ::socketio::GridSystemShutdown_Data);
HX_EVENT_DATA(RETURN_GRIDSYSTEMSHUTDOWN, ::socketio::Return_GridSystemShutdown_Data);
HX_EVENT_DATA(ROUTINGTABLEADD_NHL, ::socketio::RoutingTableAdd_NHL_Data);
HX_EVENT_DATA(ROUTINGTABLEREMOVE_NHL, ::socketio::RoutingTableRemove_NHL_Data);
HX_EVENT_DATA(ROUTINGTABLEADD_CM, ::socketio::RoutingTableAdd_CM_Data);
HX_EVENT_DATA(ROUTINGTABLEREMOVE_CM, ::socketio::RoutingTableRemove_CM_Data);
HX_EVENT_DATA(RPC_CLIENTCALLREQUEST, ::socketio::RPC_ClientCallRequest_Data);
HX_EVENT_DATA(RPC_CLIENTCALLREPLY, ::socketio::RPC_ClientCallReply_Data);
HX_EVENT_DATA(RPC_CLIENTCALLERROR, ::socketio::RPC_ClientCallError_Data);
HX_EVENT_DATA(RPC_HANDLERREGISTER, ::socketio::RPC_HandlerRegister_Data);
HX_EVENT_DATA(RPC_HANDLERUNREGISTER, ::socketio::RPC_HandlerUnregister_Data);
HX_EVENT_DATA(RPC_PROCEDURECALL, ::socketio::RPC_ProcedureCall_Data);
HX_EVENT_DATA(RPC_PROCEDURECALLREPLY, ::socketio::RPC_ProcedureCallReply_Data);
HX_EVENT_DATA(RPC_PROCEDURECALLFAILED, ::socketio::RPC_ProcedureCallFailed_Data);
HX_EVENT_DATA(RPC_MESSAGEFORWARD, ::socketio::RPC_MessageForward_Data);
HX_EVENT_DATA(NOTIFY_TEST_PATH, tql::id_t);
HX_EVENT_DATA(NOTIFY_UNEXPECTED_DOWNTIME, tql::id_t);
HX_EVENT_DATA(FORECAST_WARNING, ::alert::Forecast_Warning_Data);
HX_EVENT_DATA(GENERIC_NOTIFY, ::alert::Generic_Notify_Data);
HX_EVENT_DATA(OBJECT_STATUS_CHANGE, ::alert::Object_Status_Change_Data);
HX_EVENT_DATA(PAGER_PAGE, ::alert::Pager_Page_Data);
HX_EVENT_DATA(PAGER_STATUS, ::alert::Pager_Status_Data);
HX_EVENT_DATA(PAGER_EXIT, std::int32_t);
HX_EVENT_DATA(MAILER_MAIL, ::alert::Mailer_Mail_Data);
HX_EVENT_DATA(MAILER_STATUS, ::alert::Mailer_Status_Data);
HX_EVENT_DATA(MAILER_EXIT, std::int32_t);
HX_EVENT_DATA(SNMP_CHECK, ::snmp::Snmp_Check_Data);
HX_EVENT_DATA(SNMP_TIMEOUT, ::snmp::Snmp_Timeout_Data);
HX_EVENT_DATA(SNMP_OID_PROBE, ::snmp::Snmp_Oid_Probe_Data);
HX_EVENT_DATA(SNMP_PROBE_TIMEOUT, ::snmp::Snmp_Probe_Timeout_Data);
HX_EVENT_DATA(SNMP_PROBE_RESULT, ::snmp::Snmp_Probe_Result_Data);
HX_EVENT_DATA(SCHEDULED_REPORT_GENERATION, ::reporter::Scheduled_Report_Generation_Data);
HX_EVENT_DATA(IMMEDIATE_STATE, ::alarms::Immediate_State_Data);
HX_EVENT_DATA(IMMEDIATE_STATES, ::alarms::Immediate_States_Data);
HX_EVENT_DATA(CHECKIN, ::alarms::Checkin_Data);
HX_EVENT_DATA(ACKNOWLEDGE_ALERT, ::alarms::Acknowledge_Alert_Data);
HX_EVENT_DATA(RESET_SCORE, ::alarms::Reset_Score_Data);
HX_EVENT_DATA(SET_STATUS, ::alarms::Set_Status_Data);
HX_EVENT_DATA(ALARM_NOTIFY, ::alarms::Alarm_Notify_Data);
HX_EVENT_DATA(SCAN_REQUEST, ::scan::Scan_Request_Data);
HX_EVENT_DATA(SCAN_RESULT, ::scan::Scan_Result_Data);
HX_EVENT_DATA(GRIDCLEARTEXTSEND, ::skiogrid::GridCleartextSend_Data);
HX_EVENT_DATA(GRIDNSINCOMING, ::skiogrid::GridNSIncoming_Data);
HX_EVENT_DATA(GRIDSETENDPOINTSECRET, ::skiogrid::GridSetEndpointSecret_Data);
HX_EVENT_DATA(GRIDCLEARENDPOINTSECRET, ::skiogrid::GridClearEndpointSecret_Data);
HX_EVENT_DATA(GRIDSENDMESSAGE, ::skiogrid::GridSendMessage_Data);
HX_EVENT_DATA(GRIDRECEIVEDMESSAGE, ::skiogrid::GridReceivedMessage_Data);
HX_EVENT_DATA(SUBSCRIBEEPSECCHANGE, ::router::SubscribeEpsecChange_Data);
HX_EVENT_DATA(EPSECCHANGENOTIFICATION, ::router::EpsecChangeNotification_Data);

#undef HX_EVENT_DATA

}  // namespace queues
