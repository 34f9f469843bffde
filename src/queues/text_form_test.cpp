// The diagnostic text form of events and payloads.
#include <gtest/gtest.h>

#include <algorithm>

#include "queues/devent.h"

namespace queues {
namespace {

TEST(TextForm, ListsOfRecordsNestOneLevelPerContainer) {
  const queues::devent_t<queues::IMMEDIATE_STATES> ev(queues::QUEUE_DBMS, 1,
                                                      {{{{1, 2}, 3}, {{}, 0}}});
  EXPECT_EQ(ev.toString(),
            "IMMEDIATE_STATES {\n"
            "  dest: dbms\n"
            "  inresponse: 1\n"
            "  states: list {\n"
            "    {\n"
            "      id: 1.2\n"
            "      state: 3\n"
            "    }\n"
            "    {\n"
            "      id: \n"
            "      state: 0\n"
            "    }\n"
            "  }\n"
            "}\n");
}

TEST(TextForm, BooleansQueueNamesAndPairs) {
  const queues::devent_t<queues::RESET_SCORE> reset(queues::QUEUE_MAIN, 2,
                                                    {{0, 5}, "by hand", {1, 7}, true});
  EXPECT_NE(reset.toString().find("  comment: by hand\n  object: 1.7\n  recursive: true\n"),
            std::string::npos);
  const queues::devent_t<queues::INIT_OK> init(queues::QUEUE_MAIN, 0,
                                               {{queues::QUEUE_ALRT, queues::QUEUE_SCHD}});
  EXPECT_NE(init.toString().find("  depend_on: set {\n    schd\n    alrt\n  }\n"),
            std::string::npos);
  const queues::devent_t<queues::RETURN_TQL_DELETE> deleted(queues::QUEUE_DBMS, 3,
                                                            {1, {{1, "Specified ID"}}});
  EXPECT_NE(deleted.toString().find("  details: list {\n    (1, Specified ID)\n  }\n"),
            std::string::npos);
}

TEST(TextForm, PlainPayloadsEmptyRecordsAndExceptionReplies) {
  const queues::devent_t<queues::REQUEST_SERVER_CONFIGURATION> request(queues::QUEUE_MAIN, 1, 0);
  EXPECT_EQ(request.toString(),
            "REQUEST_SERVER_CONFIGURATION {\n  dest: main\n  inresponse: 1\n  0\n}\n");
  const queues::devent_t<queues::PAGER_PAGE> page(queues::QUEUE_ALRT, 1);
  EXPECT_EQ(page.toString(), "PAGER_PAGE {\n  dest: alrt\n  inresponse: 1\n}\n");
  EXPECT_EQ(queues::exevent(queues::QUEUE_DBMS, 9, "Backend error").toString(),
            "MESSAGE_EXCEPTION {\n  dest: dbms\n  inresponse: 9\n  Exception: Backend error\n}\n");
}

TEST(TextForm, NestedEventPrintsTimeThenTheEventBlock) {
  scheduler::Schedule_Event_Relative_Data data;
  data.time = htime::usec_time(86400 + 3661, 250);
  data.ev = std::make_unique<queues::devent_t<queues::SYS_EXIT>>(queues::QUEUE_MAIN, 8,
                                                                 control::Sys_Exit_Data{3});
  const queues::devent_t<queues::SCHEDULE_EVENT_RELATIVE> ev(queues::QUEUE_SCHD, 7,
                                                             std::move(data));
  EXPECT_EQ(ev.toString(),
            "SCHEDULE_EVENT_RELATIVE {\n"
            "  dest: schd\n"
            "  inresponse: 7\n"
            "  time: Fri Jan 02 01:01:01 1970\n"
            "  ev: SYS_EXIT {\n"
            "    dest: main\n"
            "    inresponse: 8\n"
            "    code: 3\n"
            "  }\n"
            "}\n");
}

TEST(TextForm, ObjectsPrintPropertiesAsAMapAndVersionsQuoted) {
  queues::devent_t<queues::RETURN_TQL_SELECT_PATCH> ev(queues::QUEUE_DBMS, 2);
  ev.data.id = {0, 1};
  ev.data.seq = {4, 9};
  ev.data.patch = std::make_unique<tql::object_t>();
  tql::object_t& object = *ev.data.patch;
  object.id = {0, 1};
  object.version = {3, 5};
  object.properties.insert(std::make_unique<tql::property_string_t>(20, "web"));
  object.properties.insert(std::make_unique<tql::property_int_t>(21, 7));
  object.properties.at(21)->isNull = true;
  // The other fields print through the record and container forms above.
  const std::string text = ev.toString();
  EXPECT_NE(text.find("    id: 0.1\n    version: \"3.1.5\"\n"
                      "    properties: map {\n"
                      "      key: 20\n      value: \"web\"\n"
                      "      key: 21\n      value: null\n    }\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  seq: \"4.1.9\"\n}\n"), std::string::npos) << text;
}

TEST(TextForm, ConfigurationPrintsEveryFieldInOrder) {
  queues::devent_t<queues::SERVER_CONFIGURATION> ev(queues::QUEUE_MAIN, 1);
  ev.data.layout_conf_path = "C:\\halcyx\\layout.conf";
  ev.data.log_mask = 34;
  ev.data.passive = true;
  ev.data.snmp_timeout_initial = htime::usec_time(2);
  ev.data.modem_options = {"b", "a"};
  ev.data.tsdb_buffer_flush_batch = 64;
  const std::string text = ev.toString();
  EXPECT_EQ(text.rfind("SERVER_CONFIGURATION {\n  dest: main\n  inresponse: 1\n"
                       "  layout_conf_path: C:\\halcyx\\layout.conf\n  dbms_tsdb_file_path: \n",
                       0),
            0u);
  EXPECT_NE(text.find("  log_mask: 34\n  passive: true\n"), std::string::npos);
  EXPECT_NE(text.find("  modem_options: set {\n    a\n    b\n  }\n"), std::string::npos);
  EXPECT_NE(text.find("  snmp_timeout_initial: Thu Jan 01 00:00:02 1970\n"), std::string::npos);
  EXPECT_NE(text.find("  cluster_options: \n  report_generator: \n"), std::string::npos);
  EXPECT_NE(text.find("  tsdb_buffer_flush_batch: 64\n}\n"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + 87 + 4);  // 87 fields, 4 set lines
}

}  // namespace
}  // namespace queues
