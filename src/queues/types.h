#pragma once
// The two numbering schemes every sibling process shares: event types
// (`event_t`) and process queues (`queue_t`), with their printable names.
// Both travel on the wire as 32-bit numbers and print by name in every
// diagnostic, so a number that has no name still prints as something
// readable.
#include <cstdint>
#include <string>

namespace queues {

// Every event type with its number: X(number, NAME). 69, 70 and 71 are
// reserved numbers without a name; a reader still accepts them.
#define HX_EVENT_TYPES(X)                    \
  X(1, DAEMONIZE_SYSTEM)                     \
  X(2, SYS_EXIT)                             \
  X(3, INIT_OK)                              \
  X(4, SYSTEM_LOG_REQUEST)                   \
  X(5, SERVER_CONFIGURATION)                 \
  X(6, REQUEST_SERVER_CONFIGURATION)         \
  X(7, REQUEST_SERVER_VARIABLE_FIELDS)       \
  X(8, RETURN_SERVER_VARIABLE_FIELDS)        \
  X(9, STORE_SERVER_VARIABLE_FIELDS)         \
  X(10, REQUEST_SPAWN_PROCESS)               \
  X(11, GET_PURE_ENTROPY)                    \
  X(12, RETURN_PURE_ENTROPY)                 \
  X(13, GET_PSEUDO_RANDOM)                   \
  X(14, RETURN_PSEUDO_RANDOM)                \
  X(15, GET_METRIC)                          \
  X(16, RETURN_METRIC_ERROR)                 \
  X(17, RETURN_METRIC_UINT64)                \
  X(18, RETURN_METRIC_DOUBLE)                \
  X(19, RETURN_METRIC_TIMING)                \
  X(20, LIST_METRICS)                        \
  X(21, RETURN_LIST_METRICS)                 \
  X(22, GET_METRIC_TYPE)                     \
  X(23, RETURN_GET_METRIC_TYPE)              \
  X(24, SUPPORTS_METRICS)                    \
  X(25, CREATE_TIMESERIES)                   \
  X(26, RETURN_CREATE_TIMESERIES)            \
  X(27, DELETE_TIMESERIES)                   \
  X(28, RETURN_DELETE_TIMESERIES)            \
  X(29, DESCRIBE_TIMESERIES)                 \
  X(30, RETURN_DESCRIBE_TIMESERIES)          \
  X(31, GET_DATA)                            \
  X(32, RETURN_GET_DATA)                     \
  X(33, PUT_DATA)                            \
  X(34, RETURN_PUT_DATA_ALLOC)               \
  X(35, TRUNCATE_OLD_DATA)                   \
  X(36, RETURN_TRUNCATE_OLD_DATA)            \
  X(37, FIND_OLDEST_RECORD)                  \
  X(38, RETURN_FIND_OLDEST_RECORD)           \
  X(39, RECOVERY_CHECKSUM_TIMESERIES)        \
  X(40, RETURN_RECOVERY_CHECKSUM_TIMESERIES) \
  X(41, RECOVERY_EXTRACT_TIMESERIES)         \
  X(42, RETURN_RECOVERY_EXTRACT_TIMESERIES)  \
  X(43, RECOVERY_MERGE_TIMESERIES)           \
  X(44, RETURN_RECOVERY_MERGE_TIMESERIES)    \
  X(45, REQUEST_RESULT)                      \
  X(46, DATA_REMCHECK)                       \
  X(47, DATA_SNMPCHECK_CONTINUOUS)           \
  X(48, DATA_SNMPCHECK_ENUM)                 \
  X(49, DATA_SNMPCHECK_UPTIME)               \
  X(50, DATA_DOMAINEXPORT_STATE)             \
  X(51, PUT_CHECK_STATE)                     \
  X(52, PUT_INCIDENTLOG)                     \
  X(53, RETURN_HOST_CONFIGURED_STATE)        \
  X(54, GET_HOST_CONFIGURED_STATE)           \
  X(55, SET_HOST_RECONFIGURED)               \
  X(56, SET_HOST_RESCAN)                     \
  X(57, CHECKIN_START)                       \
  X(58, RETURN_CHECKIN_START)                \
  X(59, CHECKIN_COMPLETE)                    \
  X(60, RETURN_CHECKIN_COMPLETE)             \
  X(61, CHECKIN_ABORT)                       \
  X(62, DATA_AGENTCHECK)                     \
  X(63, RETURN_DATA_AGENTCHECK)              \
  X(64, HOST_REBOOTED)                       \
  X(65, LATE_CHECKIN)                        \
  X(66, GET_LAST_CHECKIN_TIME)               \
  X(67, RETURN_LAST_CHECKIN_TIME)            \
  X(68, CLEAR_FIRE_FLAG)                     \
  X(72, AUDIT_EVENT)                         \
  X(73, GET_TQL_CLASS_NAMES)                 \
  X(74, RETURN_TQL_CLASS_NAMES)              \
  X(75, GET_TQL_PROPERTY_NAMES)              \
  X(76, RETURN_TQL_PROPERTY_NAMES)           \
  X(77, GET_TQL_REPARENTABLE_CLASSES)        \
  X(78, RETURN_TQL_REPARENTABLE_CLASSES)     \
  X(79, TQL_SELECT)                          \
  X(80, RETURN_TQL_SELECT)                   \
  X(81, RETURN_TQL_SELECT_PATCH)             \
  X(82, RETURN_TQL_SELECT_DELETE_PATCH)      \
  X(83, TQL_CREATE)                          \
  X(84, RETURN_TQL_CREATE)                   \
  X(85, TQL_UPDATE)                          \
  X(86, RETURN_TQL_UPDATE)                   \
  X(87, TQL_DELETE)                          \
  X(88, RETURN_TQL_DELETE)                   \
  X(89, TQL_SIMPLE_SUBSCRIBE)                \
  X(90, RETURN_TQL_SIMPLE_SUBSCRIBE)         \
  X(91, NODECLASS_TRANSLATE)                 \
  X(92, RETURN_NODECLASS_TRANSLATE)          \
  X(93, USER_ACKNOWLEDGE_ALERT)              \
  X(94, USER_RESET_SCORE)                    \
  X(95, TSDB_GET_DATA)                       \
  X(96, RETURN_TSDB_GET_DATA)                \
  X(97, TSDB_PUT_DATA)                       \
  X(98, RETURN_TSDB_PUT_DATA)                \
  X(99, TSDB_MERGE_DATA)                     \
  X(100, RETURN_TSDB_MERGE_DATA)             \
  X(101, TSDB_GET_LATEST_DATA_RECORD)        \
  X(102, RETURN_TSDB_GET_LATEST_DATA_RECORD) \
  X(103, TSDB_APPEND_DATA_RECORD)            \
  X(104, RETURN_TSDB_APPEND_DATA_RECORD)     \
  X(105, TSDB_APPEND_DATA)                   \
  X(106, RETURN_TSDB_APPEND_DATA)            \
  X(107, TSDB_TRUNCATE_OLD_DATA)             \
  X(108, RETURN_TSDB_TRUNCATE_OLD_DATA)      \
  X(109, TQL_ACKNOWLEDGE)                    \
  X(110, TQL_FORGET)                         \
  X(111, RETURN_TQL_FORGET)                  \
  X(112, UPDATE_NETCHECKS)                   \
  X(113, GET_NETCHECK_INFO)                  \
  X(114, RETURN_NETCHECK_INFO)               \
  X(115, GET_FIRST_ID)                       \
  X(116, RETURN_ID)                          \
  X(117, GET_NEXT_ID)                        \
  X(118, GET_FIRST_MASTERID)                 \
  X(119, RETURN_MASTERID)                    \
  X(120, GET_NEXT_MASTERID)                  \
  X(121, GET_TRACE)                          \
  X(122, RETURN_TRACE)                       \
  X(123, GET_DELETED)                        \
  X(124, GET_DELETED_MASTERID)               \
  X(125, RETURN_DELETED)                     \
  X(126, RETIRE_DELETED)                     \
  X(127, ADD_CANDIDATE_NODE)                 \
  X(128, SCHEDULE_EVENT_ABSOLUTE)            \
  X(129, SCHEDULE_EVENT_RELATIVE)            \
  X(130, REMOTE_CHECK)                       \
  X(131, CHECK_TIMEOUT)                      \
  X(132, ICMP_REQUEST)                       \
  X(133, ICMP_ECHO_REPLY)                    \
  X(134, CHECK_REQUEST)                      \
  X(135, CHECK_RESULT)                       \
  X(136, SOCKETIO_TIDY_CACHES)               \
  X(137, REQSHAREDKEYGEN)                    \
  X(138, SHAREDKEYREPLY)                     \
  X(139, REQFINALKEYGEN)                     \
  X(140, FINALKEYREPLY)                      \
  X(141, GRIDLINKINITIATE)                   \
  X(142, GRIDLINKSTATUSCHANGE)               \
  X(143, GRIDLINKSHUTDOWN)                   \
  X(144, GRIDLINKKEEPALIVE)                  \
  X(145, GRIDLINKACTIVITY)                   \
  X(146, GRIDSYSTEMSHUTDOWN)                 \
  X(147, RETURN_GRIDSYSTEMSHUTDOWN)          \
  X(148, ROUTINGTABLEADD_NHL)                \
  X(149, ROUTINGTABLEREMOVE_NHL)             \
  X(150, ROUTINGTABLEADD_CM)                 \
  X(151, ROUTINGTABLEREMOVE_CM)              \
  X(152, RPC_CLIENTCALLREQUEST)              \
  X(153, RPC_CLIENTCALLREPLY)                \
  X(154, RPC_CLIENTCALLERROR)                \
  X(155, RPC_HANDLERREGISTER)                \
  X(156, RPC_HANDLERUNREGISTER)              \
  X(157, RPC_PROCEDURECALL)                  \
  X(158, RPC_PROCEDURECALLREPLY)             \
  X(159, RPC_PROCEDURECALLFAILED)            \
  X(160, RPC_MESSAGEFORWARD)                 \
  X(161, NOTIFY_TEST_PATH)                   \
  X(162, NOTIFY_UNEXPECTED_DOWNTIME)         \
  X(163, FORECAST_WARNING)                   \
  X(164, GENERIC_NOTIFY)                     \
  X(165, OBJECT_STATUS_CHANGE)               \
  X(166, PAGER_PAGE)                         \
  X(167, PAGER_STATUS)                       \
  X(168, PAGER_EXIT)                         \
  X(169, MAILER_MAIL)                        \
  X(170, MAILER_STATUS)                      \
  X(171, MAILER_EXIT)                        \
  X(172, SNMP_CHECK)                         \
  X(173, SNMP_TIMEOUT)                       \
  X(174, SNMP_OID_PROBE)                     \
  X(175, SNMP_PROBE_TIMEOUT)                 \
  X(176, SNMP_PROBE_RESULT)                  \
  X(177, SCHEDULED_REPORT_GENERATION)        \
  X(178, IMMEDIATE_STATE)                    \
  X(179, IMMEDIATE_STATES)                   \
  X(180, CHECKIN)                            \
  X(181, ACKNOWLEDGE_ALERT)                  \
  X(182, RESET_SCORE)                        \
  X(183, SET_STATUS)                         \
  X(184, ALARM_NOTIFY)                       \
  X(185, SCAN_REQUEST)                       \
  X(186, SCAN_RESULT)                        \
  X(187, GRIDCLEARTEXTSEND)                  \
  X(188, GRIDNSINCOMING)                     \
  X(189, GRIDSETENDPOINTSECRET)              \
  X(190, GRIDCLEARENDPOINTSECRET)            \
  X(191, GRIDSENDMESSAGE)                    \
  X(192, GRIDRECEIVEDMESSAGE)                \
  X(193, SUBSCRIBEEPSECCHANGE)               \
  X(194, EPSECCHANGENOTIFICATION)            \
  X(195, MESSAGE_EXCEPTION)

enum event_t : std::int32_t {
  INVALID_HEAD = 0,
#define HX_EVENT_ENUMERATOR(number, name) name = number,
  HX_EVENT_TYPES(HX_EVENT_ENUMERATOR)
#undef HX_EVENT_ENUMERATOR
      INVALID_TAIL = 196,
};

inline constexpr event_t kFirstEventType = DAEMONIZE_SYSTEM;
inline constexpr event_t kLastEventType = MESSAGE_EXCEPTION;

// True for the numbers 1 to 195: the types an event may carry.
constexpr bool isEventType(std::int32_t number) {
  return number >= kFirstEventType && number <= kLastEventType;
}

// The queue number of each sibling process. Only 0 to 22 are real queues;
// QUEUE_NONE stands for "no queue".
enum queue_t : std::int32_t {
  QUEUE_NONE = -1,
  QUEUE_MAIN = 0,
  QUEUE_SCHD = 1,
  QUEUE_DBMS = 2,
  QUEUE_RMCH = 3,
  QUEUE_SKIO = 4,
  QUEUE_ALRM = 5,
  QUEUE_ALRT = 6,
  QUEUE_SNMP = 7,
  QUEUE_BRDC = 8,
  QUEUE_BNCH = 9,
  QUEUE_PORT = 10,
  QUEUE_KEYG = 11,
  QUEUE_REPT = 12,
  QUEUE_FORC = 13,
  QUEUE_KNGT = 14,
  QUEUE_NETS = 15,
  QUEUE_GRID = 16,
  QUEUE_NCUP = 17,
  QUEUE_GMAS = 18,
  QUEUE_GSAT = 19,
  QUEUE_TSDB = 20,
  QUEUE_UPLN = 21,
  QUEUE_EXTRA = 22,
};

// Number of real queues (0 to 22): the size of every per-queue table.
inline constexpr std::size_t kQueueCount = 23;

// "IMMEDIATE_STATE" for 178; "INVALID_HEAD" for 0, "INVALID_TAIL" for 196
// and "(event_t)" + the signed number for anything else without a name.
std::string eventName(event_t type);

// "alrm" for 5, "none" for -1; any other number without a name prints as its
// unsigned decimal form padded with leading "x" to four characters ("xx23").
std::string queueName(queue_t queue);

}  // namespace queues
