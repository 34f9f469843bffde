#include "keepers/status.h"

#include <gtest/gtest.h>

#include <limits>

namespace keepers {
namespace {

using htime::usec_time;

constexpr Rates kWarnRate10{0, 10, 20};
constexpr Thresholds kLevels{100, 200, 150, 300};

TEST(Accumulate, CountsOneExtraSecondAndStopsAtTheCeiling) {
  // 49 whole seconds at 10 points per 5 s: (49 + 1) * 10 / 5.
  EXPECT_EQ(accumulateScore(0, 49, kStateWarn, kWarnRate10, kLevels), 100);
  EXPECT_EQ(accumulateScore(0, 0, kStateWarn, kWarnRate10, kLevels), 2);
  EXPECT_EQ(accumulateScore(140, 49, kStateWarn, kWarnRate10, kLevels), 150);
  EXPECT_EQ(accumulateScore(0, 1000, kStateAlert, kWarnRate10, kLevels), 300);
}

TEST(Accumulate, GoodStateDrainsToZeroAndNeverRaisesAboveIt) {
  EXPECT_EQ(accumulateScore(50, 4, kStateGood, {-10, 0, 0}, kLevels), 40);
  EXPECT_EQ(accumulateScore(5, 100, kStateGood, {-10, 0, 0}, kLevels), 0);
  EXPECT_EQ(accumulateScore(0, 100, kStateGood, {10, 0, 0}, kLevels), 0);
  // Unknown and meaningless states leave the score alone.
  EXPECT_EQ(accumulateScore(77, 100, kStateUnknown, {10, 10, 10}, kLevels), 77);
  EXPECT_EQ(accumulateScore(77, 100, 9, {10, 10, 10}, kLevels), 77);
}

TEST(Accumulate, DivisionTruncatesTowardZero) {
  // -3 / 5 is 0, not -1; -7 / 5 is -1.
  EXPECT_EQ(accumulateScore(50, 0, kStateGood, {-3, 0, 0}, kLevels), 50);
  EXPECT_EQ(accumulateScore(50, 0, kStateWarn, {0, -7, 0}, {0, 0, -100, 0}), 49);
  // A negative rate in warn state falls only down to the ceiling.
  EXPECT_EQ(accumulateScore(50, 100, kStateWarn, {0, -50, 0}, {0, 0, 20, 0}), 20);
}

TEST(Accumulate, WrapsIn32Bits) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  // elapsed + 1 wraps to INT32_MIN, and so does its product with 5.
  EXPECT_EQ(accumulateScore(0, kMax, kStateWarn, {0, 5, 0}, {0, 0, kMax, 0}), kMin / 5);
  // The sum wraps too; a wrapped score is below any ceiling and stays.
  EXPECT_EQ(accumulateScore(kMax, 4, kStateWarn, {0, 5, 0}, {0, 0, kMax, 0}), kMin + 4);
}

TEST(Derive, TiesCountUpwardWhenRisingAndDownwardWhenFalling) {
  const usec_time now{1000};
  EXPECT_EQ(deriveStatus(kScoreDriven, kStateWarn, 100, kWarnRate10, kLevels, now).status, kWarn);
  EXPECT_EQ(deriveStatus(kScoreDriven, kStateWarn, 200, kWarnRate10, kLevels, now).status, kAlert);
  const Rates falling{-10, -10, -10};
  EXPECT_EQ(deriveStatus(kScoreDriven, kStateGood, 100, falling, kLevels, now).status, kGood);
  EXPECT_EQ(deriveStatus(kScoreDriven, kStateGood, 200, falling, kLevels, now).status, kWarn);
  EXPECT_EQ(deriveStatus(kScoreDriven, kStateGood, 201, falling, kLevels, now).status, kAlert);
  // A steady score counts like a falling one.
  EXPECT_EQ(deriveStatus(kScoreDriven, kStateWarn, 100, {0, 0, 0}, kLevels, now).status, kGood);
  EXPECT_EQ(deriveStatus(kScoreDriven, kStateUnknown, 500, kWarnRate10, kLevels, now).status,
            kUnknown);
}

TEST(Derive, DeadlineIsWhenTheScoreReachesTheNextLevel) {
  const usec_time now{1000};
  // (100 - 0) * 5.0 / 10 = 50 s.
  Derivation d = deriveStatus(kScoreDriven, kStateWarn, 0, kWarnRate10, {100, 200, 150, 300}, now);
  EXPECT_EQ(d.nextThreshold, 100);
  EXPECT_EQ(d.deadline, usec_time{1050});
  // No movement, no deadline.
  d = deriveStatus(kScoreDriven, kStateWarn, 0, {0, 0, 0}, kLevels, now);
  EXPECT_EQ(d.deadline, htime::never);
  // Rising to ALERT leaves nothing further to cross.
  d = deriveStatus(kScoreDriven, kStateAlert, 250, kWarnRate10, kLevels, now);
  EXPECT_EQ(d.status, kAlert);
  EXPECT_EQ(d.nextThreshold, -1);
  EXPECT_EQ(d.deadline, htime::never);
}

TEST(Derive, FallingDeadlineIgnoresTheCeilingAndKeepsMicroseconds) {
  const usec_time now{1000, 250000};
  // Falling from 230 towards the alert level 200 at -4 per 5 s: 37.5 s.
  const Derivation d =
      deriveStatus(kScoreDriven, kStateGood, 230, {-4, 0, 0}, {100, 200, 0, 0}, now);
  EXPECT_EQ(d.status, kAlert);
  EXPECT_EQ(d.nextThreshold, 200);
  EXPECT_EQ(d.deadline, (usec_time{1037, 750000}));
  // In the good state the ceiling is unlimited for the rising case too.
  const Derivation up = deriveStatus(kScoreDriven, kStateGood, 0, {3, 0, 0}, kLevels, now);
  EXPECT_EQ(up.nextThreshold, 100);
  EXPECT_EQ(up.deadline, now + usec_time::fromDouble(100 * 5.0 / 3));
}

TEST(IncidentText, DescribesEachKindOfChange) {
  // What the end-to-end tests do not already meet.
  EXPECT_EQ(incidentText("cpu", "", kUnknown, kAlert), "cpu Left alert level");
  EXPECT_EQ(incidentText("cpu", "", kGood, kUnknown), "");
  EXPECT_EQ(incidentText("cpu", "", kUninitialized, kGood), "");
  EXPECT_EQ(incidentText("cpu", "x", kWarnDowntime, kGoodDowntime), "");
  EXPECT_EQ(incidentText("cpu", "", kUnknownExplained, kAlertDowntime), "cpu Left downtime");
  EXPECT_EQ(incidentText("cpu", "", kUnknownExplained, kAlert), "");
  EXPECT_EQ(incidentSeverity(kAlertExplained), 1u);
  // The label-free test agrees with the text for every pair of statuses.
  for (status_t to = 0; to <= 13; ++to) {
    for (status_t from = 0; from <= 13; ++from) {
      EXPECT_EQ(writesIncidentText(to, from), !incidentText("", "", to, from).empty())
          << from << " to " << to;
    }
  }
}

}  // namespace
}  // namespace keepers
