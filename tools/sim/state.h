// The game's globals, units and missiles as JSON, and setting them by name.
#pragma once

#include <string>
#include <vector>

namespace sim {

// One JSON object with the globals a script can watch, in a fixed key order; with keys, only
// those, in the order given. Throws ScriptError for an unknown key.
std::string state_json(const std::vector<std::string>& keys = {});
// A JSON array with an object per occupied unit slot; with slots, one per slot named, in that
// order, occupied or not.
std::string units_json(const std::vector<std::string>& slots = {});
// A JSON array with an object per busy missile slot.
std::string shots_json();

// set NAME V...: a global of the state object by name; arrays take four values.
// Throws ScriptError for an unknown name or a bad value.
void set_global(const std::vector<std::string>& args);
// set unit SLOT FIELD V: a field of a unit slot, as the units list names them.
void set_unit(const std::vector<std::string>& args);
// set shot SLOT FIELD V...: flag, xdest, ydest, size, trail (every xco entry), or
// track X1 Y1 Z1 X2 Y2 Z2 (starts the stepper, as a launch does).
void set_shot(const std::vector<std::string>& args);

}  // namespace sim
