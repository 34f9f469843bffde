#pragma once
// The scenario `halcyx-sim` runs when given none: the shipped demonstration
// (tools/sim/scenarios/demo.json), built into the program so that it runs
// from any directory.
namespace sim {

extern const char* const kDemoScenario;
extern const char* const kDemoScenarioName;

}  // namespace sim
