#include "sim/subscription.h"

#include <gtest/gtest.h>

#include "halarm/subscription.h"
#include "sim/sim_testing.h"
#include "tql/schema.h"

namespace sim {
namespace {

class SubscriptionTest : public ::testing::Test {
 protected:
  SubscriptionTest()
      : scenario_(parseScenario(R"({"tree": {"label": "Acme",
            "domains": [{"label": "HQ", "nodes": [{"label": "web01", "groups": [
              {"label": "Services", "groups": [{"label": "Inner", "checks": [{"label": "Deep"}]}],
               "checks": [{"label": "HTTP", "accumulations": [{"label": "Sum"}]},
                          {"label": "Off", "active": false}]}],
              "checks": [{"label": "Direct"}],
              "plans": [{"label": "Maint", "unexpected": [{"label": "Now", "until": 9}]}]}]}]}})",
                                "t.json")),
        tree_(scenario_.root, 0),
        select_(7, {{0, 1}}, halarm::subscriptionPattern()) {}

  const SimObject& at(const std::string& path) { return tree_.resolve(path, ""); }

  Scenario scenario_;
  ObjectTree tree_;
  Subscription select_;
};

TEST_F(SubscriptionTest, SelectsNestedDomainsAndGroupsAndOnlyActiveChecks) {
  EXPECT_TRUE(select_.selects(at("HQ/web01/Services/Inner/Deep")));
  EXPECT_TRUE(select_.selects(at("HQ/web01/Services/HTTP/Sum")));
  EXPECT_TRUE(select_.selects(at("HQ/web01/Maint/Now")));
  EXPECT_FALSE(select_.selects(at("HQ/web01/Services/Off")));
  // The pattern has no place for a check directly under a node.
  EXPECT_FALSE(select_.selects(at("HQ/web01/Direct")));
}

TEST_F(SubscriptionTest, ResultCarriesTheWantedPropertiesOrAllWhenNoneAreNamed) {
  // The alarm process wants every property the simulator gives a node: fewer
  // here.
  tql::pattern_t narrowed = halarm::subscriptionPattern();
  ASSERT_EQ(narrowed.next.at(3).class_, tql::cls::Node);
  narrowed.next.at(3).wanted_properties = {tql::prop::checkinFrequency, tql::prop::warn};
  const std::vector<tql::object_ptr> result =
      Subscription(7, {{0, 1}}, std::move(narrowed)).select(tree_);
  ASSERT_EQ(result.size(), 1u);
  const tql::object_t& node = *result[0]->children.at(0)->children.at(0);
  EXPECT_EQ(node.class_, tql::cls::Node);
  std::set<std::uint32_t> names;
  for (const auto& p : node.properties) names.insert(p->property);
  EXPECT_EQ(names, (std::set<std::uint32_t>{tql::prop::checkinFrequency, tql::prop::warn}));
  ASSERT_EQ(node.children.size(), 2u);  // the group and the plan; not the direct check
  const tql::object_t& plan = *node.children.at(1);
  EXPECT_EQ(plan.class_, tql::cls::Plan);
  const tql::object_t& event = *plan.children.at(0);
  EXPECT_EQ(event.properties.size(), 3u);  // active, comment, endTime: everything it has
}

TEST(Satisfies, MissingOrIncomparablePropertiesFailTheCondition) {
  SimObject check;
  check.kind = Kind::check;
  tql::pattern_t p;
  p.class_ = tql::cls::Check;
  p.where.emplace_back(std::make_unique<tql::property_boolean_t>(tql::prop::active, true),
                       tql::kRelEqual);
  EXPECT_FALSE(satisfies(check, p));
  check.properties[tql::prop::active] = std::make_unique<tql::property_int_t>(tql::prop::active, 1);
  EXPECT_FALSE(satisfies(check, p));
  check.properties[tql::prop::active] =
      std::make_unique<tql::property_boolean_t>(tql::prop::active, true);
  EXPECT_TRUE(satisfies(check, p));
}

}  // namespace
}  // namespace sim
