#include "sim/object_tree.h"

#include <gtest/gtest.h>

#include <functional>

#include "tql/property_access.h"
#include "tql/schema.h"

namespace sim {
namespace {

class ObjectTreeTest : public ::testing::Test {
 protected:
  ObjectTreeTest()
      : scenario_(parseScenario(R"({"tree": {"label": "Acme", "nodes": [
            {"label": "web01", "dependsOn": ["db01"], "groups": [
              {"label": "Services", "checks": [{"label": "HTTP"}, {"label": "TLS", "id": "1.2"}]}]},
            {"label": "db01", "plans": [{"label": "Maintenance", "unexpected": [
              {"label": "Upgrade", "until": 30.7}]}]}]}})",
                                "t.json")),
        tree_(scenario_.root, 1000) {}

  SimObject& at(const std::string& path) { return tree_.resolve(path, "/test"); }

  std::string errorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const EAtPlace& e) {
      return e.text();
    }
    return "(no error)";
  }

  Scenario scenario_;
  ObjectTree tree_;
};

TEST_F(ObjectTreeTest, GivesIdsInDocumentOrderAroundExplicitOnes) {
  EXPECT_EQ(tree_.root().id, tql::id_t({0, 1}));
  EXPECT_EQ(at("web01").id, tql::id_t({1, 1}));
  EXPECT_EQ(at("web01/Services").id, tql::id_t({1, 3}));  // 1.2 is taken by TLS
  EXPECT_EQ(at("web01/Services/HTTP").id, tql::id_t({1, 4}));
  EXPECT_EQ(at("web01/Services/TLS").id, tql::id_t({1, 2}));
  EXPECT_EQ(tree_.find({1, 4}), &at("web01/Services/HTTP"));
}

TEST_F(ObjectTreeTest, ResolvesDependenciesAndTimesRelativeToTheStart) {
  const auto& deps =
      static_cast<const tql::property_object_set_t&>(*at("web01").property(tql::prop::dependsOn));
  EXPECT_EQ(deps.value, std::set<tql::id_t>{at("db01").id});
  // 1000 + 30.7, rounded down to whole seconds.
  EXPECT_EQ(tql::getDate(*at("db01/Maintenance/Upgrade").property(tql::prop::endTime)), 1030);
}

TEST_F(ObjectTreeTest, AddMoveChangeAndRemoveKeepIdsAndVersionsStraight) {
  ObjectSpec desc;
  desc.kind = Kind::check;
  desc.label = "DNS";
  desc.properties.dependsOn = std::vector<std::string>{"web01/Services/DNS"};  // itself
  SimObject& dns = tree_.add(at("web01/Services"), desc);
  EXPECT_EQ(dns.id, tql::id_t({1, 8}));
  EXPECT_EQ(tree_.findPath("web01/Services/DNS"), &dns);

  tree_.move(dns, at("web01"), "/m");
  EXPECT_EQ(tree_.pathOf(dns), "web01/DNS");
  EXPECT_EQ(dns.version.major, 2u);

  PropertySpec changes;
  changes.values[tql::prop::warnScore] =
      std::make_unique<tql::property_int_t>(tql::prop::warnScore, 9);
  tree_.change(dns, changes, "/c");
  EXPECT_EQ(tql::getInt(*dns.property(tql::prop::warnScore)), 9);
  EXPECT_EQ(dns.version.major, 3u);

  tree_.remove(at("web01"), "/r");
  EXPECT_EQ(tree_.find({1, 8}), nullptr);
  EXPECT_EQ(tree_.find({1, 4}), nullptr);
  EXPECT_EQ(tree_.findPath("web01"), nullptr);
}

TEST_F(ObjectTreeTest, RefusedChangesLeaveTheTreeAsItWas) {
  ObjectSpec desc;
  desc.kind = Kind::check;
  desc.label = "Bad";
  desc.pointer = "/add";
  desc.properties.dependsOn = std::vector<std::string>{"nowhere"};
  EXPECT_EQ(errorOf([&] { tree_.add(at("web01/Services"), desc); }),
            "/add/dependsOn/0: no object \"nowhere\": Acme has no child labelled \"nowhere\" "
            "(its children: web01, db01)");
  EXPECT_EQ(tree_.findPath("web01/Services/Bad"), nullptr);
  EXPECT_EQ(at("web01/Services").children.size(), 2u);

  desc.properties.dependsOn.reset();
  desc.kind = Kind::node;
  EXPECT_EQ(errorOf([&] { tree_.add(at("web01/Services"), desc); }),
            "/add: a node cannot be placed under a check group (web01 / Services)");
  EXPECT_EQ(errorOf([&] { tree_.remove(tree_.root(), "/r"); }),
            "/r: the root of the tree cannot be deleted");
}

}  // namespace
}  // namespace sim
