#include "kx/calculator/status.h"

#include "kx/calculator/picture.h"

namespace kx::calculator {

std::string ModelDescription(const ModelInputs& in) {
  if (in.method != PricingMethod::kBinomial) return "Black-Scholes";
  return std::string("binomial tree (") + (in.style == 1 ? "European" : "American") + ", " +
         std::to_string(in.steps) + " steps)";
}

namespace {

// The object's description names the method; without one, the member and its code say it.
std::string Refusal(DISPID member, HRESULT code, std::string reason) {
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
  if (!reason.empty()) return "The component refused the inputs: " + reason + ".";
  return "The component refused " + MemberName(member) + " (" + platform::HresultName(code) + ").";
}

}  // namespace

std::string ChartsNotUpdatedText(const CurveFailure& failure) {
  return "Charts not updated: " + Refusal(failure.member, failure.hr, failure.reason);
}

std::string StatusText(const RunReport& report) {
  const std::string previous(kPreviousResults);
  switch (report.outcome) {
    case RunOutcome::kComputed: {
      const ModelInputs& in = report.inputs;
      return "Computed with " + ModelDescription(in) + ": " + std::to_string(in.days) +
             (in.days == 1 ? " day" : " days") + " to expiry, " +
             FormatPicture(in.time, kPricePicture) + " years (actual days / 365).";
    }
    case RunOutcome::kScreened: {
      std::string text = "Not computed, every result set to 0: ";
      if (report.expiry_not_after_today) {
        const int days = report.inputs.days;
        text += "expiry must be after today (it is " +
                (days == 0 ? std::string("today")
                           : std::to_string(-days) + (days == -1 ? " day ago" : " days ago")) +
                ")";
        if (!report.not_positive.empty()) text += "; ";
      }
      if (!report.not_positive.empty()) {
        text += "inputs must be positive (";
        for (std::size_t i = 0; i < report.not_positive.size(); ++i) {
          text += (i ? ", " : "") + report.not_positive[i];
        }
        text += ")";
      }
      return text + ".";
    }
    case RunOutcome::kRefused:
      return Refusal(report.refused_member, report.refusal, report.reason) + " " + previous;
    case RunOutcome::kUnreadable:
      return "Could not read " + report.unreadable_field + ": " + report.unreadable_why + ". " +
             previous;
  }
  return previous;
}

std::string DrawCurvesAfterRun(const RunReport& report, OptionsControl& ctl, bool shown,
                               std::optional<ChartCurves>& computed,
                               const std::function<void(const std::string&)>& show) {
  std::string status = StatusText(report);
  const char* const kPrevious = " The charts show the previous curves.";
  if (report.outcome != RunOutcome::kComputed) return shown ? status + kPrevious : status;
  // The tree's points wait in the pumped wait; a window closed meanwhile makes the next call
  // fail, which ends them.
  show(status + " Drawing the charts...");
  ChartCurves curves;
  CurveFailure failure;
  if (ComputeCurves(report.inputs, ctl, curves, failure)) {
    computed = std::move(curves);
    return status;
  }
  status += " " + ChartsNotUpdatedText(failure);
  return shown ? status + kPrevious : status;
}

}  // namespace kx::calculator
