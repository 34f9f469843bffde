// halcyx-sim: runs the alarm process against simulated siblings (main,
// DBMS, alert) on a scenario's object tree and timeline, and shows what it
// does.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "error/exception.h"
#include "error/parse.h"
#include "os/fd.h"
#include "os/file.h"
#include "os/process_info.h"
#include "os/spawn.h"
#include "os/terminal.h"
#include "sim/demo_scenario.h"
#include "sim/html_report.h"
#include "sim/link.h"
#include "sim/report.h"
#include "sim/role_process.h"
#include "sim/scenario.h"
#include "sim/simulator.h"

namespace {

constexpr int kExitAlarmFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnmet = 3;

constexpr const char* kUsage = R"HELP(usage: halcyx-sim [options] [SCENARIO.json]

Starts the alarm process and plays every sibling it talks to: the main
process (configuration, log lines), the DBMS (the object tree, its standing
select and patches, check states, check-ins, acknowledgements, score resets,
stored statuses and incident log) and the alert process (status changes).
It runs the scenario's timeline in real time and shows one line per status
change, then a table of final statuses. Without SCENARIO.json it runs the
built-in demonstration (tools/sim/scenarios/demo.json, about a minute).

options:
  --quiet          no live timeline: problems and the final table only
  --json           a machine-readable log instead: one JSON object per line
                   ("event": start, note, action, log, status, problem,
                   alarm_output, final)
  --html FILE      also write a picture of the run to FILE: one HTML page
                   with a timeline row per object (grouped by node,
                   coloured by status, downtime hatched, explained statuses
                   dotted, incidents, acknowledgements and the scenario's
                   actions marked, texts on hover) and the final table;
                   the page needs nothing but itself
  --log-mask N     the log mask the main process hands out (default: the
                   scenario's "logMask", else 0; 32 shows the alarm's debug
                   lines)
  --transport T    how the alarm process is reached: "family" (default)
                   runs halcyx-alarm as sibling 5 of a process family whose
                   main process is this program, with the DBMS (2) and the
                   alert process (6) as processes of their own (this
                   program again, as "halcyx-sim --role dbms|alert
                   [SCENARIO.json]"); "pipe" runs halcyx-alarm-pipe over
                   its standard input and output and plays every role here
  --alarm PROGRAM  the alarm process to run (default: halcyx-alarm or
                   halcyx-alarm-pipe, by transport, next to this program)
  --kill WHO@SECONDS
                   kill a sibling process with SIGKILL at that offset (WHO:
                   dbms, alert or alarm; dbms and alert only with the family
                   transport); may be given more than once. Same as a
                   {"do": "kill", "sibling": WHO} action in the timeline
  --check          only read and check the scenario
  --help           this text

exit codes: 0 the run went through and every expectation held; 1 the alarm
process failed (did not subscribe, ended early, or did not exit with code 0);
2 bad command line or scenario; 3 an expected final status was not reached.

SCENARIO FORMAT (JSON)
{
  "title": "...", "description": "...",
  "logMask": 0,                  (optional)
  "duration": 60,                (optional; else the "end" action, else two
                                  seconds after the last action)
  "tree": { root domain },
  "timeline": [ actions ],
  "expect": {"PATH": "STATUS", ...}   (optional final statuses to check)
}

Objects. Every object has a "label" (unique among its siblings, no "/") and
may give an "id" ("1.17"; the root is always 0.1, others get 1.N). Children
are listed by kind. Every property the alarm process reads gets a value: the
default below unless the object sets it.
  domain   children: domains, nodes, exports, plans
           dependsOn [] (paths), stationLocale null
  node     children: groups, checks, plans
           checkinFrequency 300 (seconds; null: the node is inactive),
           alertStrategy "state" ("state": status follows the check state,
           "score": status from a score), acknowledgeAlerts false,
           checkinScore -20, missedCheckinScore 20, warn 50, alert 100,
           warnCeiling 80, alertCeiling 150, dependsOn [], stationLocale null;
           "initialCheckin" true: the DBMS reports a check-in at the start;
           "lateState" "alert": the state the DBMS reports for the node when
           the alarm says it is late; "state": an initial state (none)
  group    children: groups, checks.  siblingName (default: the label;
           "agentchecks" makes its checks agent checks of the node)
  check    children: accumulations, plans.  active true, longLabel (the
           label), alertStrategy "state", acknowledgeAlerts false,
           goodScore -20, warnScore 10, alertScore 20, dependsOn [],
           stationLocale null, checkType 0; "state" "good" (initial state)
  accumulation   as check
  export   (domain export) gid (required), alertStrategy, acknowledgeAlerts,
           warn, alert, warnCeiling, alertCeiling, goodScore, warnScore,
           alertScore (defaults as above); "state" "good"
  plan     children: unexpected, expected, weekly (label optional)
  unexpected   downtime from now: "until" (seconds after the start),
           "comment", "active" true
  expected     downtime window: "from", "until" (seconds after the start),
           "comment", "active" true
  weekly   children: days.   day: "day" ("monday" ... "sunday"), children:
           events.   event: "start" ("22:00" or seconds after local
           midnight), "duration" (seconds), "comment", "active" true
A node is late 2.5 x checkinFrequency + 30 s after its last check-in; an
object with no state shows UNINITIALIZED for 60 s.

Paths name objects by labels below the root: "Headquarters/web01/HTTP"
(blanks around "/" are allowed); "/" is the root.

Timeline: {"at": SECONDS, "do": ACTION, ...}, seconds after the alarm process
subscribed; actions at the same time run in file order.
  state        "object", "state" (good, unknown, warn, alert)
  states       "states": {"PATH": "STATE", ...}   (one IMMEDIATE_STATES)
  checkin      "object" (a node)
  acknowledge  "object", "user", "comment"
  reset        "object", "user", "comment", "recursive" (false)
  set          "object", "properties": {"warnScore": 30, ...} (a patch)
  add          "parent", and the new object under its kind: "check": {...}
               (also node, domain, export, group, accumulation, plan,
               unexpected, expected, weekly, day, event)
  move         "object", "to" (the new parent)
  delete       "object"
  note         "text" (a line of narration)
  end          the end of the scenario

Statuses in the output and in "expect": NA, GOOD, UNINITIALIZED, UNKNOWN,
WARN, ALERT, and for downtime or a failed dependency "GOOD (downtime)",
"UNKNOWN (downtime)", "WARN (downtime)", "ALERT (downtime)", "GOOD
(explained)", "UNKNOWN (explained)", "WARN (explained)", "ALERT (explained)".
)HELP";

// halcyx-sim --role dbms|alert [SCENARIO.json]: a role process of the
// family that another halcyx-sim is the main process of.
int roleProcess(const std::vector<std::string>& args) {
  try {
    const std::optional<sim::Sibling> role =
        args.size() >= 2 ? sim::siblingNamed(args[1]) : std::nullopt;
    if (!role || *role == sim::Sibling::alarm || args.size() > 3) {
      throw error::EFatal("usage: halcyx-sim --role dbms|alert [SCENARIO.json]");
    }
    const sim::Scenario scenario =
        args.size() == 3 ? sim::parseScenario(os::readWholeFile(args[2]), args[2])
                         : sim::parseScenario(sim::kDemoScenario, sim::kDemoScenarioName);
    return sim::runRoleProcess(*role, scenario);
  } catch (const error::Exception& e) {
    std::cerr << "Caught: " << e.text() << '\n';
    return 1;
  }
}

int usageError(const std::string& problem) {
  std::cerr << "halcyx-sim: " << problem << "\nTry 'halcyx-sim --help'.\n";
  return kExitUsage;
}

// A program installed next to this one.
std::string besideMe(const std::string& name) {
  const std::string self = os::executablePath();
  const std::size_t slash = self.rfind('/');
  if (slash == std::string::npos) return name;
  return self.substr(0, slash + 1) + name;
}

bool wantsColor() {
  if (!os::isTerminal(os::kStandardOutput) || os::environmentValue("NO_COLOR")) return false;
  return os::environmentValue("TERM").value_or("dumb") != "dumb";
}

struct CommandLine {
  bool quiet = false;
  bool json = false;
  bool checkOnly = false;
  std::optional<std::int32_t> logMask;
  bool overPipes = false;
  std::vector<sim::Action> kills;
  std::string alarm;
  std::string scenario;
  std::string html;
};

// Parses the arguments; returns an exit code when the program should stop.
std::optional<int> parse(const std::vector<std::string>& args, CommandLine& cl) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--quiet") {
      cl.quiet = true;
    } else if (arg == "--json") {
      cl.json = true;
    } else if (arg == "--check") {
      cl.checkOnly = true;
    } else if (arg == "--log-mask") {
      const auto v = value();
      if (!v) return usageError("--log-mask needs a number");
      try {
        cl.logMask = static_cast<std::int32_t>(error::parseUnsigned(*v));
      } catch (const error::Exception&) {
        return usageError("--log-mask needs a number, not \"" + *v + "\"");
      }
    } else if (arg == "--html") {
      const auto v = value();
      if (!v || v->empty()) return usageError("--html needs a file name");
      cl.html = *v;
    } else if (arg == "--kill") {
      const auto v = value();
      const std::size_t at = v ? v->find('@') : std::string::npos;
      const auto who = at != std::string::npos ? sim::siblingNamed(v->substr(0, at)) : std::nullopt;
      sim::Action kill;
      kill.type = sim::ActionType::kill;
      kill.pointer = "--kill";
      try {
        if (!who) throw error::EFatal("no sibling");
        kill.sibling = *who;
        const std::string seconds = v->substr(at + 1);
        std::size_t used = 0;
        kill.at = std::stod(seconds, &used);
        if (used != seconds.size()) throw error::EFatal("trailing text");
      } catch (const std::exception&) {
        return usageError("--kill needs WHO@SECONDS (dbms, alert or alarm), e.g. dbms@12.5");
      } catch (const error::Exception&) {
        return usageError("--kill needs WHO@SECONDS (dbms, alert or alarm), e.g. dbms@12.5");
      }
      if (!(kill.at >= 0)) return usageError("--kill cannot happen before the start");
      cl.kills.push_back(kill);
    } else if (arg == "--transport") {
      const auto v = value();
      if (!v || (*v != "family" && *v != "pipe"))
        return usageError("--transport needs \"family\" or \"pipe\"");
      cl.overPipes = *v == "pipe";
    } else if (arg == "--alarm") {
      const auto v = value();
      if (!v) return usageError("--alarm needs a program");
      cl.alarm = *v;
    } else if (arg.starts_with("-")) {
      return usageError("unknown option " + arg);
    } else if (cl.scenario.empty()) {
      cl.scenario = arg;
    } else {
      return usageError("one scenario at a time");
    }
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--role") return roleProcess(args);
  CommandLine cl;
  if (auto stop = parse(args, cl)) return *stop;

  sim::Scenario scenario;
  try {
    if (cl.scenario.empty()) {
      scenario = sim::parseScenario(sim::kDemoScenario, sim::kDemoScenarioName);
    } else {
      scenario = sim::parseScenario(os::readWholeFile(cl.scenario), cl.scenario);
    }
  } catch (const error::Exception& e) {
    std::cerr << "halcyx-sim: " << e.text() << '\n';
    return kExitUsage;
  }
  // Kills from the command line join the timeline after the actions of the
  // same offset.
  for (const sim::Action& kill : cl.kills) {
    auto& timeline = scenario.timeline;
    const auto later =
        std::upper_bound(timeline.begin(), timeline.end(), kill.at,
                         [](double at, const sim::Action& action) { return at < action.at; });
    timeline.insert(later, kill);
  }
  if (cl.checkOnly) {
    std::cout << scenario.file << ": OK (" << scenario.timeline.size() << " actions, ends after "
              << scenario.endsAt << " s)\n";
    return 0;
  }

  const std::string program =
      !cl.alarm.empty() ? cl.alarm : besideMe(cl.overPipes ? "halcyx-alarm-pipe" : "halcyx-alarm");
  if (!os::isExecutableFile(program)) {
    std::cerr << "halcyx-sim: cannot run " << program
              << " (build it first, or name the alarm process with --alarm)\n";
    return kExitAlarmFailed;
  }
  // The roles are this program again, on the same scenario.
  sim::RoleCommand roles{os::executablePath(), {}};
  if (!cl.scenario.empty()) roles.args.push_back(cl.scenario);
  // The page's file is opened before the run, so that a name that cannot be
  // written is refused before a minute of simulation, not after it.
  std::ofstream htmlFile;
  if (!cl.html.empty()) {
    htmlFile.open(cl.html, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!htmlFile) {
      std::cerr << "halcyx-sim: cannot write the HTML report " << cl.html << '\n';
      return kExitUsage;
    }
  }
  try {
    std::unique_ptr<sim::Observer> text =
        cl.json ? sim::makeJsonReport(std::cout)
                : sim::makeTextReport(std::cout, {wantsColor(), cl.quiet});
    std::unique_ptr<sim::Observer> html;
    std::unique_ptr<sim::Observer> both;
    sim::Observer* report = text.get();
    if (htmlFile.is_open()) {
      html = sim::makeHtmlReport(htmlFile);
      both = sim::makeFanOut({text.get(), html.get()});
      report = both.get();
    }
    sim::AlarmLinkPtr link =
        cl.overPipes ? sim::startAlarmOverPipes(program) : sim::startAlarmInFamily(program, roles);
    sim::SimOptions options;
    options.logMask = cl.logMask;
    sim::Simulator simulator(scenario, *link, *report, options);
    const sim::Outcome outcome = simulator.run();
    if (htmlFile.is_open()) {
      htmlFile.close();
      if (!htmlFile) {
        std::cerr << "halcyx-sim: writing the HTML report " << cl.html << " failed\n";
        return kExitAlarmFailed;
      }
    }
    if (!outcome.alarmClean) return kExitAlarmFailed;
    if (!outcome.unmet.empty()) return kExitUnmet;
    return 0;
  } catch (const error::Exception& e) {
    std::cout.flush();
    std::cerr << "halcyx-sim: " << e.text() << '\n';
    return kExitAlarmFailed;
  }
}
