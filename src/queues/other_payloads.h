#pragma once
// Payloads of sibling processes' events that this process never sends or
// handles: the time series store, remote and SNMP checks, socket I/O and
// grid links, scanning, reports and routing. Their contents are private to
// the processes that use them, so here they are empty records.
#include "queues/record.h"

namespace tsdb {
HX_EMPTY_RECORD(time_series_layout_t);            // 25, 30
HX_EMPTY_RECORD(Get_Data_Data);                   // 31
HX_EMPTY_RECORD(Return_Get_Data_Data);            // 32
HX_EMPTY_RECORD(Put_Data_Data);                   // 33
HX_EMPTY_RECORD(Truncate_Old_Data_Data);          // 35
HX_EMPTY_RECORD(Recovery_Merge_TimeSeries_Data);  // 43
}  // namespace tsdb

namespace remcheck {
HX_EMPTY_RECORD(Remote_Check_Data);     // 130
HX_EMPTY_RECORD(Check_Timeout_Data);    // 131
HX_EMPTY_RECORD(Icmp_Request_Data);     // 132
HX_EMPTY_RECORD(Icmp_Echo_Reply_Data);  // 133
HX_EMPTY_RECORD(remcheck_conf);         // 134
}  // namespace remcheck

namespace services {
HX_EMPTY_RECORD(remcheck_stat);  // 135
}  // namespace services

namespace socketio {
HX_EMPTY_RECORD(ReqSharedKeyGen_Data);            // 137
HX_EMPTY_RECORD(SharedKeyReply_Data);             // 138
HX_EMPTY_RECORD(ReqFinalKeyGen_Data);             // 139
HX_EMPTY_RECORD(FinalKeyReply_Data);              // 140
HX_EMPTY_RECORD(GridLinkInitiate_Data);           // 141
HX_EMPTY_RECORD(GridLinkStatusChange_Data);       // 142
HX_EMPTY_RECORD(GridLinkShutdown_Data);           // 143
HX_EMPTY_RECORD(GridLinkKeepAlive_Data);          // 144
HX_EMPTY_RECORD(GridLinkActivity_Data);           // 145
HX_EMPTY_RECORD(GridSystemShutdown_Data);         // 146
HX_EMPTY_RECORD(Return_GridSystemShutdown_Data);  // 147
HX_EMPTY_RECORD(RoutingTableAdd_NHL_Data);        // 148
HX_EMPTY_RECORD(RoutingTableRemove_NHL_Data);     // 149
HX_EMPTY_RECORD(RoutingTableAdd_CM_Data);         // 150
HX_EMPTY_RECORD(RoutingTableRemove_CM_Data);      // 151
HX_EMPTY_RECORD(RPC_ClientCallRequest_Data);      // 152
HX_EMPTY_RECORD(RPC_ClientCallReply_Data);        // 153
HX_EMPTY_RECORD(RPC_ClientCallError_Data);        // 154
HX_EMPTY_RECORD(RPC_HandlerRegister_Data);        // 155
HX_EMPTY_RECORD(RPC_HandlerUnregister_Data);      // 156
HX_EMPTY_RECORD(RPC_ProcedureCall_Data);          // 157
HX_EMPTY_RECORD(RPC_ProcedureCallReply_Data);     // 158
HX_EMPTY_RECORD(RPC_ProcedureCallFailed_Data);    // 159
HX_EMPTY_RECORD(RPC_MessageForward_Data);         // 160
}  // namespace socketio

namespace snmp {
HX_EMPTY_RECORD(Snmp_Check_Data);          // 172
HX_EMPTY_RECORD(Snmp_Timeout_Data);        // 173
HX_EMPTY_RECORD(Snmp_Oid_Probe_Data);      // 174
HX_EMPTY_RECORD(Snmp_Probe_Timeout_Data);  // 175
HX_EMPTY_RECORD(Snmp_Probe_Result_Data);   // 176
}  // namespace snmp

namespace reporter {
HX_EMPTY_RECORD(Scheduled_Report_Generation_Data);  // 177
}  // namespace reporter

namespace scan {
HX_EMPTY_RECORD(Scan_Request_Data);  // 185
HX_EMPTY_RECORD(Scan_Result_Data);   // 186
}  // namespace scan

namespace skiogrid {
HX_EMPTY_RECORD(GridCleartextSend_Data);        // 187
HX_EMPTY_RECORD(GridNSIncoming_Data);           // 188
HX_EMPTY_RECORD(GridSetEndpointSecret_Data);    // 189
HX_EMPTY_RECORD(GridClearEndpointSecret_Data);  // 190
HX_EMPTY_RECORD(GridSendMessage_Data);          // 191
HX_EMPTY_RECORD(GridReceivedMessage_Data);      // 192
}  // namespace skiogrid

namespace router {
HX_EMPTY_RECORD(SubscribeEpsecChange_Data);     // 193
HX_EMPTY_RECORD(EpsecChangeNotification_Data);  // 194
}  // namespace router
