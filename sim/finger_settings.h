// The stand-in's finger as a user chooses it beside VANTREL_SIMULATOR:
// VANTREL_SIMULATOR_IMAGES=<folder> feeds the folder's 152 x 200 PGM images in name order,
// VANTREL_SIMULATOR_FINGER=<n> picks synthetic finger n; with neither, synthetic finger
// kDefaultFinger lies on the sensor.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/reader_model.h"

namespace vantrel::sim {

inline constexpr uint32_t kDefaultFinger = 1;

// A finger number: decimal digits only, at most 4294967295, blanks around allowed.
std::optional<uint32_t> ParseFingerNumber(const char* text);

// Puts the chosen finger on model. A folder (non-empty images) wins over a finger
// number. Returns false when a given setting could not be used (a number that does not
// parse, a folder without .pgm files); the finger number, or else the default finger,
// is placed then.
bool PlaceChosenFinger(ReaderModel& model, const char* finger, const char* images);

}  // namespace vantrel::sim
