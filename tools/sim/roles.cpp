#include "sim/roles.h"

#include <algorithm>

#include "error/check.h"
#include "queues/devent.h"
#include "tql/errors.h"
#include "tql/schema.h"

namespace sim {

namespace {

template <queues::event_t N>
const queues::devent_t<N>& as(const queues::event& ev) {
  const auto* concrete = dynamic_cast<const queues::devent_t<N>*>(&ev);
  HX_CHECK(concrete != nullptr, "Event " + queues::eventName(ev.type) + " of the wrong class");
  return *concrete;
}

template <queues::event_t N>
void emit(Outbox& out, queues::queue_t from, std::uint32_t uid, queues::event_data_t<N> data) {
  out.push_back(std::make_unique<queues::devent_t<N>>(from, uid, std::move(data)));
}

std::string queueList(const std::set<queues::queue_t>& queues) {
  std::string text;
  for (queues::queue_t q : queues) text += (text.empty() ? "" : ", ") + queues::queueName(q);
  return text;
}

}  // namespace

// --- Main ---

void MainRole::handle(const queues::event& ev, Outbox& out, Observer& observer, double t) {
  switch (ev.type) {
    case queues::REQUEST_SERVER_CONFIGURATION: {
      control::Server_Configuration_Fields config;
      config.log_mask = log_mask_;
      emit<queues::SERVER_CONFIGURATION>(out, queues::QUEUE_MAIN, ev.inresponse, std::move(config));
      return;
    }
    case queues::SYSTEM_LOG_REQUEST: {
      const auto& line = as<queues::SYSTEM_LOG_REQUEST>(ev).data;
      observer.log(t, line.log_type, line.msg);
      return;
    }
    case queues::SUPPORTS_METRICS:
      return;
    case queues::INIT_OK:
      init_ok_ = true;
      observer.action(t, "the alarm process is up (it depends on " +
                             queueList(as<queues::INIT_OK>(ev).data.depend_on) + ")");
      return;
    default:
      observer.problem(t, "main got " + queues::eventName(ev.type) +
                              ", which it does not expect from the alarm process");
  }
}

// --- DBMS ---

void DbmsRole::start(std::int64_t startSeconds) {
  tree_ = std::make_unique<ObjectTree>(scenario_.root, startSeconds);
}

tql::id_t DbmsRole::userId(const std::string& name) {
  auto it = std::find(users_.begin(), users_.end(), name);
  if (it == users_.end()) it = users_.insert(users_.end(), name);
  return tql::id_t{2, static_cast<std::uint32_t>(it - users_.begin() + 1)};
}

std::string DbmsRole::userName(const tql::id_t& id) const {
  if (id.size() == 2 && id[0] == 2 && id[1] >= 1 && id[1] <= users_.size()) {
    return users_[id[1] - 1];
  }
  return "user " + id.toString();
}

void DbmsRole::handle(const queues::event& ev, Outbox& out, Observer& observer, double t) {
  switch (ev.type) {
    case queues::TQL_SELECT:
      select(ev, out, observer, t);
      return;
    case queues::TQL_FORGET:
      forget(ev, out, observer, t);
      return;
    case queues::TQL_DELETE:
      remove(ev, out, observer, t);
      return;
    case queues::SET_STATUS: {
      const auto& s = as<queues::SET_STATUS>(ev).data;
      statuses_[s.id] = {s.status, s.entered_warn, s.entered_alert};
      return;
    }
    case queues::PUT_INCIDENTLOG: {
      const auto& i = as<queues::PUT_INCIDENTLOG>(ev).data;
      incidents_.push_back({i.time, i.host_id, i.text, i.level});
      return;
    }
    case queues::LATE_CHECKIN:
      late(ev, out, observer, t);
      return;
    default:
      observer.problem(t, "dbms got " + queues::eventName(ev.type) +
                              ", which it does not expect from the alarm process");
  }
}

void DbmsRole::select(const queues::event& ev, Outbox& out, Observer& observer, double t) {
  const auto& request = as<queues::TQL_SELECT>(ev).data;
  const bool first = subscriptions_.empty();
  subscriptions_.emplace_back(ev.inresponse, request.root_ids, request.pattern);
  dbms::Return_Tql_Select_Data reply;
  reply.res = subscriptions_.back().select(*tree_);
  std::size_t objects = 0;
  for (const tql::object_ptr& top : reply.res) {
    std::vector<const tql::object_t*> pending{top.get()};
    while (!pending.empty()) {
      const tql::object_t* o = pending.back();
      pending.pop_back();
      ++objects;
      for (const auto& child : o->children) pending.push_back(child.get());
    }
  }
  // States and check-ins go first: the alarm process keeps them until its
  // tree is built, so every object's first status is already the real one.
  if (first) announce(tree_->root(), out, observer, t);
  emit<queues::RETURN_TQL_SELECT>(out, queues::QUEUE_DBMS, ev.inresponse, std::move(reply));
  observer.action(t, "dbms answers the subscription with " + std::to_string(objects) + " objects");
  if (first) reportUnselected(tree_->root(), observer, t);
}

void DbmsRole::reportUnselected(const SimObject& top, Observer& observer, double t) const {
  std::vector<std::string> paths;
  bool directCheck = false;
  bool inactive = false;
  std::vector<const SimObject*> pending{&top};
  while (!pending.empty()) {
    const SimObject* o = pending.back();
    pending.pop_back();
    for (auto it = o->children.rbegin(); it != o->children.rend(); ++it)
      pending.push_back(it->get());
    if (!hasStatus(o->kind)) continue;
    const std::vector<bool> selected = selection(*o);
    if (std::find(selected.begin(), selected.end(), true) != selected.end()) continue;
    paths.push_back(tree_->displayPath(*o));
    if (o->kind == Kind::check && o->parent != nullptr && o->parent->kind == Kind::node) {
      directCheck = true;
    }
    const tql::property_t* active = o->property(tql::prop::active);
    if (active != nullptr && active->typeCode() == tql::property_boolean_t::kTypeCode &&
        !static_cast<const tql::property_boolean_t*>(active)->value) {
      inactive = true;
    }
  }
  if (paths.empty()) return;
  std::string text = std::to_string(paths.size()) + " object" + (paths.size() == 1 ? "" : "s") +
                     " with a status outside the alarm's subscription (no status will come): ";
  for (std::size_t i = 0; i < paths.size(); ++i) text += (i == 0 ? "" : ", ") + paths[i];
  if (directCheck) text += "; checks are selected only inside check groups";
  if (inactive) text += "; inactive checks are not selected";
  observer.problem(t, text);
}

void DbmsRole::announce(const SimObject& top, Outbox& out, Observer& observer, double t) {
  alarms::Immediate_States_Data states;
  std::vector<tql::id_t> nodes;
  std::vector<const SimObject*> pending{&top};
  while (!pending.empty()) {
    const SimObject* o = pending.back();
    pending.pop_back();
    for (auto it = o->children.rbegin(); it != o->children.rend(); ++it)
      pending.push_back(it->get());
    const std::vector<bool> selected = selection(*o);
    if (std::find(selected.begin(), selected.end(), true) == selected.end()) continue;
    if (o->state) states.states.push_back({o->id, static_cast<std::int32_t>(*o->state)});
    if (o->kind == Kind::node && o->initialCheckin) nodes.push_back(o->id);
  }
  const std::size_t stateCount = states.states.size();
  if (stateCount > 0) {
    emit<queues::IMMEDIATE_STATES>(out, queues::QUEUE_DBMS, 0, std::move(states));
  }
  const std::int64_t now = htime::now().sec;
  for (const tql::id_t& node : nodes) {
    emit<queues::CHECKIN>(out, queues::QUEUE_DBMS, 0, {node, now});
  }
  const auto count = [](std::size_t n, const std::string& what) {
    return n == 0 ? std::string() : std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  const std::string states_text = count(stateCount, "check state");
  const std::string checkins_text = count(nodes.size(), "check-in");
  if (!states_text.empty() || !checkins_text.empty()) {
    observer.action(t, "dbms reports " + states_text +
                           (states_text.empty() || checkins_text.empty() ? "" : " and ") +
                           checkins_text);
  }
}

void DbmsRole::forget(const queues::event& ev, Outbox& out, Observer& observer, double t) {
  const std::uint32_t uid = as<queues::TQL_FORGET>(ev).data.req_id_to_forget;
  const auto it = std::find_if(subscriptions_.begin(), subscriptions_.end(),
                               [&](const Subscription& s) { return s.uid() == uid; });
  dbms::Return_Tql_Forget_Data reply;
  reply.forgotten_req_id = uid;
  if (it == subscriptions_.end()) {
    reply.status = errors::tql::kIdNotFound;
    reply.details.emplace_back(errors::tql::kIdNotFound,
                               "No subscription with request id " + std::to_string(uid));
    observer.problem(t, "dbms was asked to forget subscription " + std::to_string(uid) +
                            ", which it does not have");
  } else {
    subscriptions_.erase(it);
    observer.action(t, "dbms forgets the subscription");
  }
  emit<queues::RETURN_TQL_FORGET>(out, queues::QUEUE_DBMS, ev.inresponse, std::move(reply));
  ++forgets_;
}

void DbmsRole::remove(const queues::event& ev, Outbox& out, Observer& observer, double t) {
  const tql::id_t id = as<queues::TQL_DELETE>(ev).data.id;
  SimObject* object = tree_->find(id);
  dbms::Return_Tql_Delete_Data reply;
  if (object == nullptr || object->parent == nullptr) {
    reply.status = errors::tql::kIdNotFound;
    reply.details.emplace_back(errors::tql::kIdNotFound,
                               "Object " + id.toString() + " cannot be deleted");
    emit<queues::RETURN_TQL_DELETE>(out, queues::QUEUE_DBMS, ev.inresponse, std::move(reply));
    observer.problem(t, "dbms was asked to delete " + id.toString() + ", which it cannot");
    return;
  }
  emit<queues::RETURN_TQL_DELETE>(out, queues::QUEUE_DBMS, ev.inresponse, std::move(reply));
  observer.action(t, "dbms deletes " + tree_->displayPath(*object) + " as the alarm asked");
  const std::vector<bool> before = selection(*object);
  tree_->remove(*object, "");
  deletePatch(id, before, out);
}

void DbmsRole::late(const queues::event& ev, Outbox& out, Observer& observer, double t) {
  const tql::id_t id = as<queues::LATE_CHECKIN>(ev).data.node;
  const SimObject* node = tree_->find(id);
  if (node == nullptr) {
    observer.problem(t, "the alarm says node " + id.toString() + " is late, but there is none");
    return;
  }
  observer.action(t, tree_->displayPath(*node) + " is late checking in; dbms reports its state " +
                         stateName(node->lateState));
  emit<queues::IMMEDIATE_STATE>(out, queues::QUEUE_DBMS, 0,
                                {id, static_cast<std::int32_t>(node->lateState)});
}

std::vector<bool> DbmsRole::selection(const SimObject& object) const {
  std::vector<bool> selected;
  for (const Subscription& s : subscriptions_) selected.push_back(s.selects(object));
  return selected;
}

void DbmsRole::patch(const SimObject& object, const std::vector<bool>& before, Outbox& out) {
  for (std::size_t i = 0; i < subscriptions_.size(); ++i) {
    const Subscription& s = subscriptions_[i];
    if (s.selects(object)) {
      dbms::Return_Tql_Select_Patch_Data data;
      data.id = object.id;
      data.patch = s.patch(object);
      data.seq = nextSeq();
      emit<queues::RETURN_TQL_SELECT_PATCH>(out, queues::QUEUE_DBMS, s.uid(), std::move(data));
    } else if (i < before.size() && before[i]) {
      emit<queues::RETURN_TQL_SELECT_DELETE_PATCH>(out, queues::QUEUE_DBMS, s.uid(),
                                                   {object.id, nextSeq()});
    }
  }
}

void DbmsRole::deletePatch(const tql::id_t& id, const std::vector<bool>& before, Outbox& out) {
  for (std::size_t i = 0; i < subscriptions_.size() && i < before.size(); ++i) {
    if (before[i]) {
      emit<queues::RETURN_TQL_SELECT_DELETE_PATCH>(out, queues::QUEUE_DBMS, subscriptions_[i].uid(),
                                                   {id, nextSeq()});
    }
  }
}

void DbmsRole::perform(const Action& action, Outbox& out, Observer& observer, double t) {
  try {
    performOn(action, out, observer, t);
  } catch (const EAtPlace& e) {
    observer.problem(t, "skipped the action at " + action.pointer + ": " + e.text());
  }
}

void DbmsRole::performOn(const Action& a, Outbox& out, Observer& observer, double t) {
  ObjectTree& tree = *tree_;
  const std::string at = a.pointer;
  switch (a.type) {
    case ActionType::state: {
      const SimObject& o = tree.resolve(a.object, at + "/object");
      observer.action(t, tree.displayPath(o) + ": state " + stateName(a.state));
      emit<queues::IMMEDIATE_STATE>(out, queues::QUEUE_DBMS, 0,
                                    {o.id, static_cast<std::int32_t>(a.state)});
      return;
    }
    case ActionType::states: {
      alarms::Immediate_States_Data data;
      std::string text;
      for (const auto& [path, state] : a.states) {
        const SimObject& o = tree.resolve(path, at + "/states");
        data.states.push_back({o.id, static_cast<std::int32_t>(state)});
        text += (text.empty() ? "" : ", ") + tree.displayPath(o) + " " + stateName(state);
      }
      observer.action(t, "states: " + text);
      emit<queues::IMMEDIATE_STATES>(out, queues::QUEUE_DBMS, 0, std::move(data));
      return;
    }
    case ActionType::checkin: {
      const SimObject& o = tree.resolve(a.object, at + "/object");
      observer.action(t, tree.displayPath(o) + " checks in");
      emit<queues::CHECKIN>(out, queues::QUEUE_DBMS, 0, {o.id, htime::now().sec});
      return;
    }
    case ActionType::acknowledge: {
      const SimObject& o = tree.resolve(a.object, at + "/object");
      observer.action(t, a.user + " acknowledges " + tree.displayPath(o));
      emit<queues::ACKNOWLEDGE_ALERT>(out, queues::QUEUE_DBMS, 0,
                                      {userId(a.user), a.comment, o.id});
      return;
    }
    case ActionType::reset: {
      const SimObject& o = tree.resolve(a.object, at + "/object");
      observer.action(t, a.user + " resets the score" + (a.recursive ? "s" : "") + " of " +
                             tree.displayPath(o) + (a.recursive ? " and its checks" : ""));
      emit<queues::RESET_SCORE>(out, queues::QUEUE_DBMS, 0,
                                {userId(a.user), a.comment, o.id, a.recursive});
      return;
    }
    case ActionType::set: {
      SimObject& o = tree.resolve(a.object, at + "/object");
      const PropertySpec changes = parsePropertyChanges(o.kind, a.properties, at + "/properties");
      const std::vector<bool> before = selection(o);
      tree.change(o, changes, at + "/properties");
      std::string names;
      for (const auto& [key, value] : a.properties.items()) {
        names += (names.empty() ? "" : ", ") + key + " " + value.dump();
      }
      observer.action(t, "dbms changes " + tree.displayPath(o) + ": " + names);
      patch(o, before, out);
      return;
    }
    case ActionType::add: {
      SimObject& parent = tree.resolve(a.object, at + "/parent");
      SimObject& o = tree.add(parent, *a.added);
      observer.action(
          t, "dbms adds " + std::string(kindInfo(o.kind).title) + " " + tree.displayPath(o));
      patch(o, {}, out);
      announce(o, out, observer, t);
      reportUnselected(o, observer, t);
      return;
    }
    case ActionType::move: {
      SimObject& o = tree.resolve(a.object, at + "/object");
      SimObject& to = tree.resolve(a.target, at + "/to");
      const std::vector<bool> before = selection(o);
      const std::string from = tree.displayPath(o);
      tree.move(o, to, at + "/to");
      observer.action(t, "dbms moves " + from + " to " + tree.displayPath(to));
      patch(o, before, out);
      return;
    }
    case ActionType::remove: {
      SimObject& o = tree.resolve(a.object, at + "/object");
      const std::vector<bool> before = selection(o);
      const tql::id_t id = o.id;
      observer.action(t, "dbms deletes " + tree.displayPath(o));
      tree.remove(o, at + "/object");
      deletePatch(id, before, out);
      return;
    }
    case ActionType::note:
    case ActionType::kill:
    case ActionType::end:
      return;
  }
}

}  // namespace sim
