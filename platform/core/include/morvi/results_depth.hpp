#pragma once
// How deep a results document nests: the one limit its writer keeps to and its readers accept,
// so that every document written can be read back by every tool.
#include <cstddef>

namespace morvi {

// Report nodes nested deeper than this (a node below this many others) are not written.
inline constexpr std::size_t MAX_REPORT_DEPTH = 4000;

// Each report node takes two levels of arrays and objects: its own object and the child list
// ("tasks", "sections") or the map holding the next one. The document's top object is level 1,
// so the deepest node's object lies at level 2 * MAX_REPORT_DEPTH.
inline constexpr std::size_t LEVELS_PER_REPORT_NODE = 2;

// Levels left below the deepest node for the values of its fields: its result's data, its
// extra map and what they hold.
inline constexpr std::size_t FIELD_VALUE_LEVELS = 1000;

// Deepest nesting of arrays and objects in a results document (the top object is level 1).
// The writer refuses a deeper document; every reader takes one this deep and refuses one
// deeper.
inline constexpr std::size_t MAX_RESULTS_NESTING =
    LEVELS_PER_REPORT_NODE * MAX_REPORT_DEPTH + FIELD_VALUE_LEVELS;

}  // namespace morvi
