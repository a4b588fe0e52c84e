#pragma once
// The window's status line: what the last press of Calculate did, in words.
#include <functional>
#include <optional>
#include <string>

#include "kx/calculator/calculation.h"
#include "kx/calculator/curves.h"

namespace kx::calculator {

inline constexpr std::string_view kStatusReady = "Enter the inputs and press Calculate.";
inline constexpr std::string_view kPreviousResults = "The results shown are the previous ones.";

// One sentence or two for `report`: "Computed with ..." and the time to expiry in days and in
// years (days / 365); the screened inputs ("expiry must be after today", "inputs must be
// positive"); or the control's refusal with its description (or, without one, the member and
// its code) or the unreadable field, then that the results shown are the previous ones.
[[nodiscard]] std::string StatusText(const RunReport& report);

// What follows the run's own status when its results are shown but its curves could not be
// computed: "Charts not updated: " and the refusal, as StatusText words it.
[[nodiscard]] std::string ChartsNotUpdatedText(const CurveFailure& failure);

// The model as the status line and the charts name it: "Black-Scholes", or "binomial tree
// (American, 50 steps)".
[[nodiscard]] std::string ModelDescription(const ModelInputs& inputs);

// The end of a press of Calculate, after the results are shown: for a computed run, shows
// "... Drawing the charts..." through `show` and computes the run's curves into `computed`
// (left empty when a call fails); returns the status line, which says when the charts were not
// updated and whether they still show older curves (`shown`: the charts show some).
[[nodiscard]] std::string DrawCurvesAfterRun(const RunReport& report, OptionsControl& ctl,
                                             bool shown, std::optional<ChartCurves>& computed,
                                             const std::function<void(const std::string&)>& show);

}  // namespace kx::calculator
