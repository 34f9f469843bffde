#include "sim/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "sim/names.h"

namespace sim {

std::string escapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\t':
      case '\n':
        out += c;
        break;
      default:
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    }
  }
  return out;
}

namespace {

struct RowBuilder {
  std::string id;
  std::string path;
  std::string node;
  bool final = false;
  std::uint32_t finalStatus = 0;
  std::vector<const StatusChange*> changes;
};

TimelineRow buildRow(const RowBuilder& b, double end) {
  TimelineRow row;
  row.id = b.id;
  row.path = b.path;
  row.gone = !b.final;
  double from = 0;
  std::uint32_t status = b.changes.empty() ? b.finalStatus : b.changes.front()->oldStatus;
  const auto close = [&](double to) {
    to = std::min(std::max(to, from), std::max(end, from));
    if (to > from) row.spans.push_back({from, to, status});
    from = to;
  };
  for (const StatusChange* c : b.changes) {
    close(c->t);
    status = c->newStatus;
    if (!c->incident.empty()) row.marks.push_back({c->t, "incident", c->incident});
    if (!c->user.empty()) {
      std::string text = (c->verb.empty() ? "by " : c->verb + " by ") + c->user;
      if (!c->comment.empty()) text += ": \"" + c->comment + "\"";
      row.marks.push_back({c->t, c->verb.empty() ? "user" : c->verb, text});
    }
  }
  close(end);
  // Two spans in a row with the same status are one.
  std::vector<StatusSpan> merged;
  for (const StatusSpan& s : row.spans) {
    if (!merged.empty() && merged.back().status == s.status && merged.back().to == s.from) {
      merged.back().to = s.to;
    } else {
      merged.push_back(s);
    }
  }
  row.spans = std::move(merged);
  return row;
}

}  // namespace

std::vector<NodeRows> timelineRows(const std::vector<StatusChange>& changes,
                                   const std::vector<FinalStatus>& finals, double end) {
  std::vector<RowBuilder> builders;
  std::map<std::string, std::size_t> byId;
  const auto builder = [&](const std::string& id) -> RowBuilder& {
    const auto [it, added] = byId.emplace(id, builders.size());
    if (added) builders.push_back({id, "", "", false, 0, {}});
    return builders[it->second];
  };
  // The final table first, so that the tree's order decides the order of
  // rows; objects that are gone follow in the order they first changed.
  for (const FinalStatus& f : finals) {
    RowBuilder& b = builder(f.id.toString());
    b.path = f.path;
    b.node = f.node.empty() ? f.path : f.node;
    b.final = true;
    b.finalStatus = f.status;
  }
  for (const StatusChange& c : changes) {
    RowBuilder& b = builder(c.object.toString());
    if (!b.final) {
      b.path = c.path;
      b.node = c.node.empty() ? c.path : c.node;
    }
    b.changes.push_back(&c);
  }
  for (RowBuilder& b : builders) {
    std::stable_sort(b.changes.begin(), b.changes.end(),
                     [](const StatusChange* x, const StatusChange* y) { return x->t < y->t; });
  }

  std::vector<NodeRows> groups;
  std::map<std::string, std::size_t> byNode;
  for (const RowBuilder& b : builders) {
    const auto [it, added] = byNode.emplace(b.node, groups.size());
    if (added) groups.push_back({b.node, {}});
    std::vector<TimelineRow>& rows = groups[it->second].rows;
    TimelineRow row = buildRow(b, end);
    // The node's own row leads its group.
    if (b.path == b.node) {
      rows.insert(rows.begin(), std::move(row));
    } else {
      rows.push_back(std::move(row));
    }
  }
  return groups;
}

namespace {

// Geometry of the timeline, in pixels.
constexpr double kLabelWidth = 340;
constexpr double kPlotWidth = 860;
constexpr double kRightMargin = 30;  // room for the last tick's label
constexpr double kRowHeight = 18;
constexpr double kBarHeight = 12;
constexpr double kLaneHeight = 44;

std::string number(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string seconds(double t) { return number(t, 3); }

// The CSS class that colours a status: one colour per plain status; the
// downtime and explained variants take the colour of the status they vary.
std::string statusClass(std::uint32_t status) {
  switch (status) {
    case 0:
      return "s-na";
    case 1:
    case 2:
    case 3:
      return "s-good";
    case 10:
      return "s-uninit";
    case 4:
    case 5:
    case 11:
      return "s-unknown";
    case 6:
    case 7:
    case 12:
      return "s-warn";
    case 8:
    case 9:
    case 13:
      return "s-alert";
    default:
      return "s-other";
  }
}

bool inDowntime(std::uint32_t status) {
  return status == 2 || status == 4 || status == 6 || status == 8;
}
bool explained(std::uint32_t status) {
  return status == 3 || status == 5 || status == 7 || status == 9;
}

constexpr const char* kStyle = R"CSS(
body { font: 13px/1.35 system-ui, sans-serif; margin: 16px; color: #222; background: #fff; }
h1 { font-size: 18px; margin: 0 0 4px; }
.meta { color: #555; margin: 2px 0; }
.legend { margin: 10px 0; display: flex; flex-wrap: wrap; gap: 4px 14px; align-items: center; }
.legend svg { vertical-align: middle; }
.axis { position: sticky; top: 0; background: #fff; z-index: 1; border-bottom: 1px solid #ccc; }
section.node { margin: 0; content-visibility: auto; contain-intrinsic-size: auto 80px; }
section.node summary { cursor: pointer; padding: 2px 0; font-weight: 600; border-top: 1px solid #eee; }
section.node summary .worst { font-weight: normal; color: #555; }
svg text { font: 12px system-ui, sans-serif; fill: #222; }
svg text.tick { fill: #666; font-size: 11px; }
.s-na { fill: #e4e4e4; background: #e4e4e4; }
.s-good { fill: #3fa34d; background: #3fa34d; }
.s-uninit { fill: #a9b6c4; background: #a9b6c4; }
.s-unknown { fill: #4f86c6; background: #4f86c6; }
.s-warn { fill: #efb21f; background: #efb21f; }
.s-alert { fill: #d64545; background: #d64545; }
.s-other { fill: #8e44ad; background: #8e44ad; }
rect.seg:hover { stroke: #000; stroke-width: 1; }
.dt { fill: url(#downtime); pointer-events: none; }
.ex { fill: url(#explained); pointer-events: none; }
g.row:hover > rect.band { fill: #f3f3f3; }
rect.band { fill: transparent; }
g.mark { cursor: help; }
g.mark path, g.mark circle { stroke: #fff; stroke-width: 0.8; }
.k-incident path { fill: #222; }
.k-acknowledged circle, .k-reset circle, .k-user circle { fill: #7b3fb8; }
.k-note path { fill: #222; }
.k-action path { fill: #999; }
.k-problem path { fill: #d64545; }
line.guide { stroke: #bbb; stroke-width: 1; }
table.final { border-collapse: collapse; margin-top: 14px; }
table.final td, table.final th { padding: 2px 10px; border-bottom: 1px solid #eee; text-align: left; }
.chip { display: inline-block; width: 10px; height: 10px; margin-right: 6px; border-radius: 2px; }
.unmet { color: #b00; font-weight: 600; }
.met { color: #287a33; font-weight: 600; }
)CSS";

// The hatching of downtime and the dots of explained statuses, defined once
// for every SVG on the page.
constexpr const char* kPatterns =
    R"SVG(<svg width="0" height="0" style="position:absolute" aria-hidden="true"><defs>)SVG"
    R"SVG(<pattern id="downtime" width="6" height="6" patternUnits="userSpaceOnUse" )SVG"
    R"SVG(patternTransform="rotate(45)"><rect width="2.5" height="6" fill="#fff" )SVG"
    R"SVG(fill-opacity="0.6"/></pattern>)SVG"
    R"SVG(<pattern id="explained" width="5" height="5" patternUnits="userSpaceOnUse">)SVG"
    R"SVG(<circle cx="2.5" cy="2.5" r="1.1" fill="#fff" fill-opacity="0.8"/></pattern>)SVG"
    R"SVG(</defs></svg>)SVG";

struct LaneItem {
  double t = 0;
  std::string kind;  // "note", "action" or "problem"
  std::string text;
};

class HtmlReport final : public Observer {
 public:
  explicit HtmlReport(std::ostream& out) : out_(out) {}

  void started(const Scenario& scenario, const std::string& program,
               std::int32_t logMask) override {
    title_ = scenario.title.empty() ? scenario.file : scenario.title;
    file_ = scenario.file;
    description_ = scenario.description;
    program_ = program;
    logMask_ = logMask;
  }
  void note(double t, const std::string& text) override { lane_.push_back({t, "note", text}); }
  void action(double t, const std::string& text) override { lane_.push_back({t, "action", text}); }
  void log(double, std::uint32_t, const std::string&) override {}
  void statusChange(const StatusChange& change) override { changes_.push_back(change); }
  void problem(double t, const std::string& text) override {
    lane_.push_back({t, "problem", text});
  }
  void alarmOutput(double t, const std::string& line) override {
    lane_.push_back({t, "problem", "alarm stderr: " + line});
  }

  void finished(const FinalReport& report) override {
    end_ = std::max(report.t, 0.001);
    for (const StatusChange& c : changes_) end_ = std::max(end_, c.t);
    for (const LaneItem& i : lane_) end_ = std::max(end_, i.t);
    const std::vector<NodeRows> groups = timelineRows(changes_, report.objects, end_);

    std::string page;
    page.reserve(4096 + changes_.size() * 600 + report.objects.size() * 900);
    page += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>";
    page += escapeHtml(title_) + " — halcyx-sim</title>\n<style>" + kStyle + "</style></head>\n";
    page += "<body>\n";
    page += kPatterns;
    page += "\n<h1>" + escapeHtml(title_) + "</h1>\n";
    if (!description_.empty()) page += "<p class=\"meta\">" + escapeHtml(description_) + "</p>\n";
    page += "<p class=\"meta\">Scenario " + escapeHtml(file_) + "; alarm process " +
            escapeHtml(program_) + " (log mask " + std::to_string(logMask_) + "); ran " +
            number(report.t, 1) + " s; " + std::to_string(report.objects.size()) +
            " objects with a status.</p>\n";
    legend(page);
    axis(page);
    for (const NodeRows& g : groups) group(page, g);
    finalTable(page, report);
    page += "</body></html>\n";
    out_ << page;
    out_.flush();
  }

 private:
  double x(double t) const { return kLabelWidth + std::clamp(t / end_, 0.0, 1.0) * kPlotWidth; }

  static void legend(std::string& page) {
    page += "<div class=\"legend\">";
    constexpr std::uint32_t kShown[] = {1, 10, 11, 12, 13, 0};
    for (const std::uint32_t s : kShown) {
      page +=
          "<span><span class=\"chip " + statusClass(s) + "\"></span>" + statusName(s) + "</span>";
    }
    page +=
        "<span><svg width=\"22\" height=\"12\"><rect width=\"22\" height=\"12\" "
        "class=\"s-alert\"/><rect width=\"22\" height=\"12\" class=\"dt\"/></svg> in downtime"
        "</span><span><svg width=\"22\" height=\"12\"><rect width=\"22\" height=\"12\" "
        "class=\"s-alert\"/><rect width=\"22\" height=\"12\" class=\"ex\"/></svg> explained by "
        "a dependency</span><span><svg width=\"12\" height=\"12\"><path d=\"M6 1 L11 6 L6 11 L1 "
        "6 Z\" fill=\"#222\"/></svg> incident</span><span><svg width=\"12\" height=\"12\">"
        "<circle cx=\"6\" cy=\"6\" r=\"4.5\" fill=\"#7b3fb8\"/></svg> acknowledged or reset"
        "</span><span>▼ narration, ▽ sibling actions (grey), problems (red): hover for the "
        "text</span></div>\n";
  }

  // The time axis and the lane of narration, sibling actions and problems;
  // it stays at the top while the rows scroll.
  void axis(std::string& page) const {
    const double width = kLabelWidth + kPlotWidth + kRightMargin;
    page += "<div class=\"axis\"><svg class=\"lane\" width=\"" + number(width, 0) + "\" height=\"" +
            number(kLaneHeight, 0) + "\">";
    page += "<text x=\"4\" y=\"14\">time since start (s)</text>";
    page += "<text x=\"4\" y=\"36\">scenario</text>";
    const double step = tickStep(end_);
    for (double t = 0; t <= end_ + 1e-9; t += step) {
      page += "<line class=\"guide\" x1=\"" + number(x(t), 1) + "\" x2=\"" + number(x(t), 1) +
              "\" y1=\"18\" y2=\"22\"/><text class=\"tick\" x=\"" + number(x(t) - 3, 1) +
              "\" y=\"14\">" + number(t, step < 1 ? 1 : 0) + "</text>";
    }
    // Items less than two pixels apart share one marker, one text per line.
    std::vector<LaneItem> items = lane_;
    std::stable_sort(items.begin(), items.end(),
                     [](const LaneItem& a, const LaneItem& b) { return a.t < b.t; });
    for (std::size_t i = 0; i < items.size();) {
      std::size_t j = i;
      std::string kind = "action";
      std::string text;
      while (j < items.size() && x(items[j].t) - x(items[i].t) < 2) {
        if (items[j].kind == "problem" || (items[j].kind == "note" && kind == "action")) {
          kind = items[j].kind;
        }
        if (!text.empty()) text += '\n';
        text += number(items[j].t, 1) + " s  " + items[j].text;
        ++j;
      }
      const double at = x(items[i].t);
      const std::string mark =
          kind == "action" ? "<path d=\"M" + number(at - 4, 1) + " 26 L" + number(at + 4, 1) +
                                 " 26 L" + number(at, 1) + " 36 Z\" fill-opacity=\"0.6\"/>"
                           : "<path d=\"M" + number(at - 5, 1) + " 25 L" + number(at + 5, 1) +
                                 " 25 L" + number(at, 1) + " 38 Z\"/>";
      page += "<g class=\"mark k-" + kind + "\" data-kind=\"" + kind + "\" data-t=\"" +
              seconds(items[i].t) + "\"><title>" + escapeHtml(text) + "</title>" + mark + "</g>";
      i = j;
    }
    page += "</svg></div>\n";
  }

  static double tickStep(double end) {
    for (const double step : {0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0}) {
      if (end / step <= 15) return step;
    }
    return std::ceil(end / 15 / 600) * 600;
  }

  void group(std::string& page, const NodeRows& g) const {
    // The worst status at the end, by severity first, then by code.
    std::uint32_t worst = 0;
    for (const TimelineRow& r : g.rows) {
      if (r.spans.empty()) continue;
      const std::uint32_t s = r.spans.back().status;
      if (std::pair(statusSeverity(s), s) > std::pair(statusSeverity(worst), worst)) worst = s;
    }
    page += "<section class=\"node\" data-node=\"" + escapeHtml(g.node) +
            "\"><details open><summary>" + escapeHtml(g.node) + " <span class=\"worst\">(" +
            std::to_string(g.rows.size()) + (g.rows.size() == 1 ? " object" : " objects") +
            ", worst at the end: " + statusName(worst) + ")</span></summary>";
    page += "<svg width=\"" + number(kLabelWidth + kPlotWidth + kRightMargin, 0) + "\" height=\"" +
            number(kRowHeight * static_cast<double>(g.rows.size()) + 2, 0) + "\">";
    double y = 0;
    for (const TimelineRow& r : g.rows) {
      row(page, g, r, y);
      y += kRowHeight;
    }
    page += "</svg></details></section>\n";
  }

  void row(std::string& page, const NodeRows& g, const TimelineRow& r, double y) const {
    const std::string path = escapeHtml(r.path);
    // Below the node's own row, objects are labelled by their path within it.
    const std::string prefix = g.node + " / ";
    const bool nested = r.path.starts_with(prefix);
    const std::string label =
        (nested ? r.path.substr(prefix.size()) : r.path) + (r.gone ? " (gone)" : "");
    page += "<g class=\"row\" data-path=\"" + path + "\" data-id=\"" + escapeHtml(r.id) +
            "\" transform=\"translate(0," + number(y, 0) + ")\">";
    page += "<rect class=\"band\" x=\"0\" y=\"0\" width=\"" + number(kLabelWidth + kPlotWidth, 0) +
            "\" height=\"" + number(kRowHeight, 0) + "\"/>";
    page += std::string("<text x=\"") + (nested ? "18" : "4") + "\" y=\"13\">" + escapeHtml(label) +
            "<title>" + path + (r.gone ? ", no longer in the tree at the end" : "") +
            "</title></text>";
    const double top = (kRowHeight - kBarHeight) / 2;
    for (const StatusSpan& s : r.spans) {
      const double x0 = x(s.from);
      const double w = std::max(x(s.to) - x0, 0.5);
      const std::string box = "x=\"" + number(x0, 2) + "\" y=\"" + number(top, 0) + "\" width=\"" +
                              number(w, 2) + "\" height=\"" + number(kBarHeight, 0) + "\"";
      page += "<rect class=\"seg " + statusClass(s.status) + "\" " + box + " data-status=\"" +
              escapeHtml(statusName(s.status)) + "\" data-from=\"" + seconds(s.from) +
              "\" data-to=\"" + seconds(s.to) + "\"><title>" + path + ": " +
              escapeHtml(statusName(s.status)) + " from " + number(s.from, 1) + " s to " +
              number(s.to, 1) + " s</title></rect>";
      if (inDowntime(s.status)) page += "<rect class=\"dt\" " + box + "/>";
      if (explained(s.status)) page += "<rect class=\"ex\" " + box + "/>";
    }
    for (const ObjectMark& m : r.marks) {
      const double at = x(m.t);
      const std::string shape = m.kind == "incident"
                                    ? "<path d=\"M" + number(at, 1) + " 1 L" + number(at + 5, 1) +
                                          " 6 L" + number(at, 1) + " 11 L" + number(at - 5, 1) +
                                          " 6 Z\"/>"
                                    : "<circle cx=\"" + number(at, 1) + "\" cy=\"" +
                                          number(kRowHeight - 5, 1) + "\" r=\"4\"/>";
      page += "<g class=\"mark k-" + m.kind + "\" data-kind=\"" + m.kind + "\" data-t=\"" +
              seconds(m.t) + "\"><title>" + number(m.t, 1) + " s  " + path + ": " +
              escapeHtml(m.text) + "</title>" + shape + "</g>";
    }
    page += "</g>";
  }

  static void finalTable(std::string& page, const FinalReport& report) {
    page += "<h2>Final statuses after " + number(report.t, 1) + " s</h2>\n";
    page += "<table class=\"final\"><thead><tr><th>object</th><th>status</th></tr></thead><tbody>";
    for (const FinalStatus& o : report.objects) {
      page += "<tr data-path=\"" + escapeHtml(o.path) + "\" data-status=\"" +
              escapeHtml(statusName(o.status)) + "\"><td>" + escapeHtml(o.path) +
              "</td><td><span class=\"chip " + statusClass(o.status) + "\"></span>" +
              escapeHtml(statusName(o.status)) + "</td></tr>";
    }
    page += "</tbody></table>\n<p>";
    std::string counts;
    for (const auto& [name, n] : countByStatus(report.objects)) {
      counts += (counts.empty() ? "" : ", ") + std::to_string(n) + " " + name;
    }
    page += escapeHtml(counts.empty() ? "no objects with a status" : counts) + "</p>\n";
    page += "<p>Alarm process: " + escapeHtml(report.alarm.description) + "</p>\n";
    if (report.expectations > 0 && report.unmet.empty()) {
      page += "<p class=\"met\">All " + std::to_string(report.expectations) +
              " expected final statuses were reached.</p>\n";
    }
    for (const std::string& unmet : report.unmet) {
      page += "<p class=\"unmet\">Expectation not met: " + escapeHtml(unmet) + "</p>\n";
    }
  }

  std::ostream& out_;
  std::string title_;
  std::string file_;
  std::string description_;
  std::string program_;
  std::int32_t logMask_ = 0;
  std::vector<StatusChange> changes_;
  std::vector<LaneItem> lane_;
  double end_ = 1;
};

}  // namespace

std::unique_ptr<Observer> makeHtmlReport(std::ostream& out) {
  return std::make_unique<HtmlReport>(out);
}

}  // namespace sim
