#pragma once
// Pairs each status change that the alert process got with what the DBMS got
// for the same change. With every status change the alarm process writes an
// incident-log line (for most objects) and then the object's status to the
// DBMS, and the change itself to the alert process. When the two roles run
// in processes of their own, their reports reach the main process in either
// order; per object both come in the order the alarm wrote them, so the
// first change of an object waiting goes with the first status the DBMS
// stored for it, together with the incident written just before that status.
// Changes come out in the order they arrived, each once its DBMS part is
// known.
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "sim/report.h"
#include "sim/roles.h"
#include "tql/id.h"

namespace sim {

class ChangePairing {
 public:
  // PUT_INCIDENTLOG, as the DBMS got it.
  void incident(const Incident& incident);
  // SET_STATUS, as the DBMS got it.
  void stored(const tql::id_t& object);
  // OBJECT_STATUS_CHANGE, as the alert process got it; `node` is the one it
  // names, which the incident line must name too.
  void change(const StatusChange& change, const tql::id_t& node);

  // The changes that are complete, in order of arrival, up to the first one
  // still waiting for its DBMS part.
  std::vector<StatusChange> ready();
  // Every change still waiting, without an incident: the DBMS will not
  // report any more.
  std::vector<StatusChange> flush();

 private:
  struct Waiting {
    StatusChange change;
    tql::id_t node;
    bool complete = false;
  };
  void complete(Waiting& waiting, const std::optional<Incident>& incident);

  std::optional<Incident> incident_;
  std::map<tql::id_t, std::deque<std::optional<Incident>>> stored_;
  std::deque<Waiting> waiting_;
};

}  // namespace sim
