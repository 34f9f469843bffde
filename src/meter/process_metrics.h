#pragma once
// The metrics this process exports, reachable from every layer that updates
// them: keepers count the objects that carry a status, the subscription code
// counts its tree edits, dialogs time their waits and metric requests time
// themselves.
//
// Each accessor builds its metric on first use; all of them are also built
// during static initialisation, so the whole table is in the tree when
// metering starts, whether or not anything has been counted yet.
#include "meter/metric.h"

namespace meter {

// "num_objs" in the root group.
IntegerGauge& numObjs();

// "metering"/"time": time spent answering metric requests.
MicroSecondTiming& meteringTime();

// "queues"/"blockings" and "queues"/"noblockings": dialog waits.
MicroSecondTiming& blockings();
IntegerCounter& noblockings();

// The "tqlutil" group: edits of the mirrored tree by the subscription code.
struct TqlUtilMetrics {
  TqlUtilMetrics();

  Group group;
  // Declared in reverse: objects pending at start-up are added to their group
  // most recently constructed first, so "replace" ends up listed first.
  IntegerCounter deleteIter;
  IntegerCounter deletes;
  IntegerCounter relocateIter;
  IntegerCounter relocate;
  IntegerCounter replaceIter;
  IntegerCounter replace;
};
TqlUtilMetrics& tqlutil();

}  // namespace meter
