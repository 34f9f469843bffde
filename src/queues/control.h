#pragma once
// Payloads of process control and metering events (namespace control).
#include <cstdint>
#include <list>
#include <set>
#include <string>

#include "htime/usec_time.h"
#include "queues/record.h"
#include "queues/types.h"

namespace control {

// SYS_EXIT (2).
struct Sys_Exit_Data {
  std::int32_t code = 0;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("code", s.code);
  }
};

// INIT_OK (3): the sibling queues this process depends on.
struct Init_Ok_Data {
  std::set<queues::queue_t> depend_on;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("depend_on", s.depend_on);
  }
};

// SYSTEM_LOG_REQUEST (4): one log line and its level.
struct Log_Request_Data {
  std::string msg;
  std::uint32_t log_type = 0;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("msg", s.msg);
    visit("log_type", s.log_type);
  }
};

// SERVER_CONFIGURATION (5): the server configuration the main process hands
// to every sibling.
struct Server_Configuration_Fields {
  std::string layout_conf_path;
  std::string dbms_tsdb_file_path;
  std::string dbms_odb_file_path;
  std::string dbms_odbj_file_path;
  std::string dbms_cache_tracefile;
  std::string dbms_event_tracefile;
  std::string dbms_tsdb_tracefile;
  std::uint32_t dbms_cache_size = 0;
  std::uint32_t dbms_cache_kin = 0;
  std::uint32_t dbms_cache_kout = 0;
  std::uint32_t dbms_buffer_blocks = 0;
  std::string variable_file;
  std::uint32_t smem_size = 0;
  std::string smem_prefix;
  std::string resource_directory;
  std::int32_t log_mask = 0;
  bool passive = false;
  std::int32_t socketio_bind_port = 0;
  std::int32_t broadcast_bind_port = 0;
  bool socketio_legacy = false;
  std::uint32_t socketio_max_connections = 0;
  std::uint32_t socketio_max_inflight = 0;
  std::uint32_t socketio_agentconf_rate = 0;
  std::uint32_t socketio_agentconf_burst = 0;
  std::uint32_t remcheck_limit_children = 0;
  std::uint32_t remcheck_ping_spacing = 0;
  std::uint16_t netcheck_process_pool_size = 0;
  std::string custom_netcheck_conf;
  std::uint32_t dns_cache_secs = 0;
  std::string libssl;
  std::string system_log_dir_path;
  std::int32_t log_days = 0;
  std::string working_directory;
  bool disable_alerts = false;
  std::string alert_textmail_ending;
  std::string alert_sms_ending;
  std::string alert_sms_subject;
  std::string alert_htmlmail_ending;
  std::string webinterface_url;
  std::string mail_server;
  std::string mail_from;
  std::string reply_mail_to;
  std::string modem_port;
  std::string modem_init;
  std::string modem_sim_pin;
  std::set<std::string> modem_options;
  std::int32_t modem_baud_rate = 0;
  std::int32_t modem_pager_timeout = 0;
  bool alert_to_event_log = false;
  bool alert_to_incident_log = false;
  std::int32_t alert_defer_at_boot = 0;
  std::uint32_t alert_attempts = 0;
  std::uint32_t alert_retry_delay = 0;
  std::uint32_t max_snmp_table_entries = 0;
  std::uint32_t snmp_reconfig_delay = 0;
  std::int32_t snmp_max_retrans = 0;
  std::int32_t snmp_max_retrans_walk = 0;
  htime::usec_time snmp_timeout_initial;
  htime::usec_time snmp_timeout_max;
  std::uint32_t snmp_packet_spacing = 0;
  std::int32_t mtu = 0;
  std::string host_name;
  std::string cluster_members;
  std::string cluster_options;
  std::string report_generator;
  bool upload_serverinfo = false;
  std::string agent_package_path;
  std::uint32_t spare_keypool_size = 0;
  std::uint32_t keypool_reuse = 0;
  std::uint32_t skio_insecure = 0;
  std::uint32_t concurrent_check_recoveries = 0;
  std::string stop_on_log_match;
  std::uint32_t max_scan_processes = 0;
  std::uint32_t ssec_keylength = 0;
  std::uint32_t ssec_min_keylength = 0;
  std::uint32_t ssec_secret_keylength = 0;
  std::uint32_t ssec_secret_min_keylength = 0;
  std::uint32_t ssec_secret_lifetime = 0;
  std::uint32_t grid_default_ttl = 0;
  std::uint32_t master_notify_queue = 0;
  std::uint32_t satellite_tsdb_async = 0;
  std::uint32_t allowed_candidate_nodes = 0;
  bool tsdb_upgrade_discard_bufferlevels = false;
  std::uint32_t tsdb_buffer_entries = 0;
  std::uint32_t tsdb_buffer_write_min = 0;
  std::uint32_t tsdb_buffer_age_max = 0;
  std::uint32_t tsdb_buffer_flush_batch = 0;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("layout_conf_path", s.layout_conf_path);
    visit("dbms_tsdb_file_path", s.dbms_tsdb_file_path);
    visit("dbms_odb_file_path", s.dbms_odb_file_path);
    visit("dbms_odbj_file_path", s.dbms_odbj_file_path);
    visit("dbms_cache_tracefile", s.dbms_cache_tracefile);
    visit("dbms_event_tracefile", s.dbms_event_tracefile);
    visit("dbms_tsdb_tracefile", s.dbms_tsdb_tracefile);
    visit("dbms_cache_size", s.dbms_cache_size);
    visit("dbms_cache_kin", s.dbms_cache_kin);
    visit("dbms_cache_kout", s.dbms_cache_kout);
    visit("dbms_buffer_blocks", s.dbms_buffer_blocks);
    visit("variable_file", s.variable_file);
    visit("smem_size", s.smem_size);
    visit("smem_prefix", s.smem_prefix);
    visit("resource_directory", s.resource_directory);
    visit("log_mask", s.log_mask);
    visit("passive", s.passive);
    visit("socketio_bind_port", s.socketio_bind_port);
    visit("broadcast_bind_port", s.broadcast_bind_port);
    visit("socketio_legacy", s.socketio_legacy);
    visit("socketio_max_connections", s.socketio_max_connections);
    visit("socketio_max_inflight", s.socketio_max_inflight);
    visit("socketio_agentconf_rate", s.socketio_agentconf_rate);
    visit("socketio_agentconf_burst", s.socketio_agentconf_burst);
    visit("remcheck_limit_children", s.remcheck_limit_children);
    visit("remcheck_ping_spacing", s.remcheck_ping_spacing);
    visit("netcheck_process_pool_size", s.netcheck_process_pool_size);
    visit("custom_netcheck_conf", s.custom_netcheck_conf);
    visit("dns_cache_secs", s.dns_cache_secs);
    visit("libssl", s.libssl);
    visit("system_log_dir_path", s.system_log_dir_path);
    visit("log_days", s.log_days);
    visit("working_directory", s.working_directory);
    visit("disable_alerts", s.disable_alerts);
    visit("alert_textmail_ending", s.alert_textmail_ending);
    visit("alert_sms_ending", s.alert_sms_ending);
    visit("alert_sms_subject", s.alert_sms_subject);
    visit("alert_htmlmail_ending", s.alert_htmlmail_ending);
    visit("webinterface_url", s.webinterface_url);
    visit("mail_server", s.mail_server);
    visit("mail_from", s.mail_from);
    visit("reply_mail_to", s.reply_mail_to);
    visit("modem_port", s.modem_port);
    visit("modem_init", s.modem_init);
    visit("modem_sim_pin", s.modem_sim_pin);
    visit("modem_options", s.modem_options);
    visit("modem_baud_rate", s.modem_baud_rate);
    visit("modem_pager_timeout", s.modem_pager_timeout);
    visit("alert_to_event_log", s.alert_to_event_log);
    visit("alert_to_incident_log", s.alert_to_incident_log);
    visit("alert_defer_at_boot", s.alert_defer_at_boot);
    visit("alert_attempts", s.alert_attempts);
    visit("alert_retry_delay", s.alert_retry_delay);
    visit("max_snmp_table_entries", s.max_snmp_table_entries);
    visit("snmp_reconfig_delay", s.snmp_reconfig_delay);
    visit("snmp_max_retrans", s.snmp_max_retrans);
    visit("snmp_max_retrans_walk", s.snmp_max_retrans_walk);
    visit("snmp_timeout_initial", s.snmp_timeout_initial);
    visit("snmp_timeout_max", s.snmp_timeout_max);
    visit("snmp_packet_spacing", s.snmp_packet_spacing);
    visit("mtu", s.mtu);
    visit("host_name", s.host_name);
    visit("cluster_members", s.cluster_members);
    visit("cluster_options", s.cluster_options);
    visit("report_generator", s.report_generator);
    visit("upload_serverinfo", s.upload_serverinfo);
    visit("agent_package_path", s.agent_package_path);
    visit("spare_keypool_size", s.spare_keypool_size);
    visit("keypool_reuse", s.keypool_reuse);
    visit("skio_insecure", s.skio_insecure);
    visit("concurrent_check_recoveries", s.concurrent_check_recoveries);
    visit("stop_on_log_match", s.stop_on_log_match);
    visit("max_scan_processes", s.max_scan_processes);
    visit("ssec_keylength", s.ssec_keylength);
    visit("ssec_min_keylength", s.ssec_min_keylength);
    visit("ssec_secret_keylength", s.ssec_secret_keylength);
    visit("ssec_secret_min_keylength", s.ssec_secret_min_keylength);
    visit("ssec_secret_lifetime", s.ssec_secret_lifetime);
    visit("grid_default_ttl", s.grid_default_ttl);
    visit("master_notify_queue", s.master_notify_queue);
    visit("satellite_tsdb_async", s.satellite_tsdb_async);
    visit("allowed_candidate_nodes", s.allowed_candidate_nodes);
    visit("tsdb_upgrade_discard_bufferlevels", s.tsdb_upgrade_discard_bufferlevels);
    visit("tsdb_buffer_entries", s.tsdb_buffer_entries);
    visit("tsdb_buffer_write_min", s.tsdb_buffer_write_min);
    visit("tsdb_buffer_age_max", s.tsdb_buffer_age_max);
    visit("tsdb_buffer_flush_batch", s.tsdb_buffer_flush_batch);
  }
};

HX_EMPTY_RECORD(Server_Variable_Fields);  // 8, 9
HX_EMPTY_RECORD(Get_Pseudo_Random_Data);  // 13

// GET_METRIC (15): the metric's path of names from the root group.
struct Get_Metric_Data {
  std::list<std::string> id;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("id", s.id);
  }
};

// RETURN_METRIC_TIMING (19).
struct Return_Metric_Timing_Data {
  std::uint64_t n = 0;
  std::uint64_t min = 0;
  std::uint64_t max = 0;
  std::uint64_t sum = 0;
  std::uint64_t sum_squares = 0;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("n", s.n);
    visit("min", s.min);
    visit("max", s.max);
    visit("sum", s.sum);
    visit("sum_squares", s.sum_squares);
  }
};

// RETURN_GET_METRIC_TYPE (23), and each metric of a Metric_Group.
struct Metric {
  std::string name;
  std::string unit;
  std::string desc;
  std::uint32_t type = 0;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("name", s.name);
    visit("unit", s.unit);
    visit("desc", s.desc);
    visit("type", s.type);
  }
};

// RETURN_LIST_METRICS (21): a group with its subgroups, tables and metrics.
struct Metric_Group {
  std::string name;
  std::list<Metric_Group> groups;
  std::list<std::string> tables;
  std::list<Metric> metrics;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("name", s.name);
    visit("groups", s.groups);
    visit("tables", s.tables);
    visit("metrics", s.metrics);
  }
};

// GET_METRIC_TYPE (22).
struct Get_Metric_Type_Data {
  std::list<std::string> id;

  template <class S, class V>
  static void fields(S& s, V&& visit) {
    visit("id", s.id);
  }
};

}  // namespace control
