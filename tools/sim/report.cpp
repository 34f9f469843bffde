#include "sim/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/names.h"

namespace sim {

std::vector<std::pair<std::string, std::size_t>> countByStatus(
    const std::vector<FinalStatus>& objects) {
  std::map<std::uint32_t, std::size_t> counts;
  for (const FinalStatus& o : objects) ++counts[o.status];
  std::vector<std::pair<std::uint32_t, std::size_t>> ordered(counts.begin(), counts.end());
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
    const int sa = statusSeverity(a.first);
    const int sb = statusSeverity(b.first);
    if (sa != sb) return sa > sb;
    return a.first > b.first;
  });
  std::vector<std::pair<std::string, std::size_t>> named;
  for (const auto& [status, n] : ordered) named.emplace_back(statusName(status), n);
  return named;
}

namespace {

std::string timeText(double t) {
  char text[32];
  std::snprintf(text, sizeof text, "%7.1fs", t < 0 ? 0.0 : t);
  return text;
}

std::string padded(const std::string& text, std::size_t width) {
  if (text.size() >= width) return text;
  return text + std::string(width - text.size(), ' ');
}

// --- The timeline for people ---

class TextReport final : public Observer {
 public:
  TextReport(std::ostream& out, TextOptions options) : out_(out), options_(options) {}

  void started(const Scenario& scenario, const std::string& program,
               std::int32_t logMask) override {
    std::size_t widest = 0;
    measure(scenario.root, "", widest);
    path_width_ = std::clamp<std::size_t>(widest, 16, 48);
    out_ << style(kBold, "Scenario: " + (scenario.title.empty() ? scenario.file : scenario.title))
         << (scenario.title.empty() ? "" : "  (" + scenario.file + ")") << '\n';
    if (!scenario.description.empty()) out_ << "  " << scenario.description << '\n';
    char length[32];
    std::snprintf(length, sizeof length, "%.0f", scenario.endsAt);
    out_ << "Alarm process: " << program << "  (log mask " << logMask << ", runs " << length
         << " s)\n\n";
    out_.flush();
  }

  void note(double t, const std::string& text) override {
    if (options_.quiet) return;
    line(t, style(kBold, "== " + text));
  }

  void action(double t, const std::string& text) override {
    if (options_.quiet) return;
    line(t, style(kDim, ">> " + text));
  }

  void log(double t, std::uint32_t level, const std::string& text) override {
    if (options_.quiet) return;
    const std::string tag = level == 0 ? "log: " : "log[" + std::to_string(level) + "]: ";
    // Log lines do not break a run of objects coming up GOOD.
    print(t, style(kDim, tag + text));
  }

  void statusChange(const StatusChange& change) override {
    if (options_.quiet) return;
    if (change.oldStatus == 0 && change.newStatus == 1) {
      folded_.push_back(change);
      return;
    }
    flushFolded();
    printChange(change);
  }

  void problem(double t, const std::string& text) override { line(t, style(kRed, "!! " + text)); }

  void alarmOutput(double t, const std::string& text) override {
    line(t, style(kDim, "alarm stderr: " + text));
  }

  void finished(const FinalReport& report) override {
    flushFolded();
    char when[32];
    std::snprintf(when, sizeof when, "%.1f", report.t);
    out_ << '\n' << style(kBold, std::string("Final statuses after ") + when + " s:") << '\n';
    std::size_t width = 0;
    for (const FinalStatus& o : report.objects) width = std::max(width, o.path.size());
    for (const FinalStatus& o : report.objects) {
      out_ << "  " << padded(o.path, width) << "  " << statusText(o.status) << '\n';
    }
    std::string counts;
    for (const auto& [name, n] : countByStatus(report.objects)) {
      counts += (counts.empty() ? "" : ", ") + std::to_string(n) + " " + name;
    }
    out_ << "  " << (counts.empty() ? "no objects with a status" : counts) << '\n';
    out_ << "Alarm process: " << report.alarm.description << '\n';
    if (report.expectations > 0 && report.unmet.empty()) {
      out_ << style(kGreen, "All " + std::to_string(report.expectations) +
                                " expected final statuses were reached.")
           << '\n';
    }
    for (const std::string& unmet : report.unmet) {
      out_ << style(kRed, "Expectation not met: " + unmet) << '\n';
    }
    out_.flush();
  }

 private:
  static constexpr const char* kBold = "1";
  static constexpr const char* kDim = "2";
  static constexpr const char* kRed = "31";
  static constexpr const char* kGreen = "32";
  static constexpr const char* kYellow = "33";
  static constexpr const char* kCyan = "36";

  std::string style(const char* code, const std::string& text) const {
    if (!options_.color) return text;
    return std::string("\x1b[") + code + "m" + text + "\x1b[0m";
  }

  std::string statusText(std::uint32_t status) const {
    static constexpr const char* kBySeverity[] = {kGreen, kCyan, kYellow, kRed};
    if (status == 0) return statusName(status);
    return style(kBySeverity[statusSeverity(status)], statusName(status));
  }

  // Display paths of the objects with a status, for the column width.
  void measure(const ObjectSpec& desc, const std::string& above, std::size_t& widest) const {
    for (const ObjectSpec& child : desc.children) {
      const std::string path = above.empty() ? child.label : above + " / " + child.label;
      if (hasStatus(child.kind)) widest = std::max(widest, path.size());
      measure(child, path, widest);
    }
  }

  void line(double t, const std::string& text) {
    flushFolded();
    print(t, text);
  }
  void print(double t, const std::string& text) {
    out_ << style(kDim, timeText(t)) << "  " << text << '\n';
    out_.flush();
  }

  void printChange(const StatusChange& c) {
    std::string transition = statusName(c.oldStatus) + " -> " + statusName(c.newStatus);
    const std::size_t visible = transition.size();
    transition = statusText(c.oldStatus) + " -> " + statusText(c.newStatus);
    if (visible < kTransitionWidth) transition += std::string(kTransitionWidth - visible, ' ');
    std::string tail = c.incident;
    if (!c.user.empty()) {
      std::string who = (c.verb.empty() ? "by " : c.verb + " by ") + c.user;
      if (!c.comment.empty()) who += ": \"" + c.comment + "\"";
      tail += (tail.empty() ? "" : "; ") + who;
    }
    std::string text = padded(c.path, path_width_) + "  " + transition + "  " + tail;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out_ << style(kDim, timeText(c.t)) << "  " << text << '\n';
    out_.flush();
  }

  void flushFolded() {
    if (folded_.empty()) return;
    std::vector<StatusChange> changes;
    changes.swap(folded_);
    if (changes.size() == 1) {
      printChange(changes.front());
      return;
    }
    out_ << style(kDim, timeText(changes.front().t)) << "  " << changes.size()
         << " objects reported " << statusText(1) << '\n';
    out_.flush();
  }

  static constexpr std::size_t kTransitionWidth = 26;

  std::ostream& out_;
  TextOptions options_;
  std::size_t path_width_ = 16;
  std::vector<StatusChange> folded_;
};

// --- One JSON object per line ---

class JsonReport final : public Observer {
 public:
  explicit JsonReport(std::ostream& out) : out_(out) {}

  void started(const Scenario& scenario, const std::string& program,
               std::int32_t logMask) override {
    Json j = record("start", 0);
    j["title"] = scenario.title;
    j["file"] = scenario.file;
    j["program"] = program;
    j["log_mask"] = logMask;
    j["ends_at"] = scenario.endsAt;
    emit(j);
  }

  void note(double t, const std::string& text) override { emitText("note", t, text); }
  void action(double t, const std::string& text) override { emitText("action", t, text); }
  void problem(double t, const std::string& text) override { emitText("problem", t, text); }
  void alarmOutput(double t, const std::string& text) override {
    emitText("alarm_output", t, text);
  }

  void log(double t, std::uint32_t level, const std::string& text) override {
    Json j = record("log", t);
    j["level"] = level;
    j["text"] = text;
    emit(j);
  }

  void statusChange(const StatusChange& c) override {
    Json j = record("status", c.t);
    j["id"] = c.object.toString();
    j["path"] = c.path;
    j["old"] = c.oldStatus;
    j["old_name"] = statusName(c.oldStatus);
    j["new"] = c.newStatus;
    j["new_name"] = statusName(c.newStatus);
    j["incident"] = c.incident;
    j["user"] = c.user;
    j["verb"] = c.verb;
    j["comment"] = c.comment;
    emit(j);
  }

  void finished(const FinalReport& report) override {
    Json j = record("final", report.t);
    Json objects = Json::array();
    for (const FinalStatus& o : report.objects) {
      Json entry = Json::object();
      entry["id"] = o.id.toString();
      entry["path"] = o.path;
      entry["status"] = o.status;
      entry["name"] = statusName(o.status);
      objects.push_back(std::move(entry));
    }
    j["statuses"] = std::move(objects);
    Json counts = Json::object();
    for (const auto& [name, n] : countByStatus(report.objects)) counts[name] = n;
    j["counts"] = std::move(counts);
    j["alarm"] = report.alarm.description;
    j["alarm_clean"] = report.alarm.clean;
    j["expectations"] = report.expectations;
    j["unmet"] = report.unmet;
    emit(j);
  }

 private:
  static Json record(const char* kind, double t) {
    Json j = Json::object();
    j["event"] = kind;
    j["t"] = std::round(std::max(t, 0.0) * 1000.0) / 1000.0;
    return j;
  }
  void emitText(const char* kind, double t, const std::string& text) {
    Json j = record(kind, t);
    j["text"] = text;
    emit(j);
  }
  void emit(const Json& j) {
    out_ << j.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
    out_.flush();
  }

  std::ostream& out_;
};

// --- Several at once ---

class FanOut final : public Observer {
 public:
  explicit FanOut(std::vector<Observer*> observers) : observers_(std::move(observers)) {}

  void started(const Scenario& scenario, const std::string& program,
               std::int32_t logMask) override {
    for (Observer* o : observers_) o->started(scenario, program, logMask);
  }
  void note(double t, const std::string& text) override {
    for (Observer* o : observers_) o->note(t, text);
  }
  void action(double t, const std::string& text) override {
    for (Observer* o : observers_) o->action(t, text);
  }
  void log(double t, std::uint32_t level, const std::string& text) override {
    for (Observer* o : observers_) o->log(t, level, text);
  }
  void statusChange(const StatusChange& change) override {
    for (Observer* o : observers_) o->statusChange(change);
  }
  void problem(double t, const std::string& text) override {
    for (Observer* o : observers_) o->problem(t, text);
  }
  void alarmOutput(double t, const std::string& line) override {
    for (Observer* o : observers_) o->alarmOutput(t, line);
  }
  void finished(const FinalReport& report) override {
    for (Observer* o : observers_) o->finished(report);
  }

 private:
  std::vector<Observer*> observers_;
};

}  // namespace

std::unique_ptr<Observer> makeFanOut(std::vector<Observer*> observers) {
  return std::make_unique<FanOut>(std::move(observers));
}

std::unique_ptr<Observer> makeTextReport(std::ostream& out, TextOptions options) {
  return std::make_unique<TextReport>(out, options);
}

std::unique_ptr<Observer> makeJsonReport(std::ostream& out) {
  return std::make_unique<JsonReport>(out);
}

}  // namespace sim
