#pragma once
// A picture of a run as one self-contained HTML page: an SVG timeline with
// one row per object, grouped by node, coloured by status over time
// (downtime hatched, explained statuses dotted), incidents, acknowledgements
// and resets marked on the object's row, the scenario's narration and the
// siblings' actions on a lane above, every text on hover, and the table of
// final statuses below. The page loads nothing: no scripts, fonts, images or
// style sheets from anywhere else.
//
// The SVG elements carry their facts as data attributes, so that the page
// can be checked from a browser's DOM: a row is `g.row` with `data-path`
// and `data-id`, inside `section.node` with `data-node`; a stretch of one
// status is `rect.seg` with `data-status` (the status name), `data-from`
// and `data-to` (seconds since the start, three decimals); a mark is
// `g.mark` with `data-kind` and `data-t`.
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/report.h"

namespace sim {

// One stretch of time during which an object had one status.
struct StatusSpan {
  double from = 0;
  double to = 0;
  std::uint32_t status = 0;
};

// Something that happened to one object at one moment: "incident" (the
// incident-log text of a change), "acknowledged", "reset" or "user" (a
// change some user caused).
struct ObjectMark {
  double t = 0;
  std::string kind;
  std::string text;
};

struct TimelineRow {
  std::string id;
  std::string path;
  bool gone = false;              // not in the final table: deleted during the run
  std::vector<StatusSpan> spans;  // in time order, none empty, covering 0 to the end
  std::vector<ObjectMark> marks;  // in time order
};

// The rows of one node: the node's own row first, when it has one.
struct NodeRows {
  std::string node;
  std::vector<TimelineRow> rows;
};

// Builds the rows from the status changes of a run (in the order they
// happened) and its final statuses, up to `end` seconds. An object's first
// span starts at 0 with the old status of its first change, or with its
// final status when it never changed. Objects are identified by id, named by
// their latest path, and grouped by node: in the order of the final table
// (the tree's order), then objects that no longer exist in the order they
// first changed.
std::vector<NodeRows> timelineRows(const std::vector<StatusChange>& changes,
                                   const std::vector<FinalStatus>& finals, double end);

// The text with &, <, >, " and ' written as character references, so that
// it can stand in element content and in quoted attribute values; control
// characters other than tab and line end become blanks.
std::string escapeHtml(std::string_view text);

// Writes the page to `out` when the run has finished.
std::unique_ptr<Observer> makeHtmlReport(std::ostream& out);

}  // namespace sim
