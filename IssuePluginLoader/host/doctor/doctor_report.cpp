#include "doctor/doctor_report.h"

#include "output/output.h"

#include <algorithm>

namespace host {

namespace {

const char* status_word(StepStatus status) {
  switch (status) {
    case StepStatus::Ok: return "ok";
    case StepStatus::Warning: return "warning";
    case StepStatus::Failed: return "failed";
    case StepStatus::Skipped: return "skipped";
  }
  return "?";
}

const char* status_mark(StepStatus status) {
  switch (status) {
    case StepStatus::Ok: return "ok  ";
    case StepStatus::Warning: return "WARN";
    case StepStatus::Failed: return "FAIL";
    case StepStatus::Skipped: return "skip";
  }
  return "?   ";
}

}  // namespace

void DoctorReport::add(std::string name, StepStatus status, std::string detail, std::string advice) {
  steps_.push_back(DoctorStep{std::move(name), status, std::move(detail), std::move(advice)});
}

bool DoctorReport::failed() const {
  for (const auto& step : steps_) {
    if (step.status == StepStatus::Failed) return true;
  }
  return false;
}

std::string DoctorReport::text(const std::string& connection, const std::string& file) const {
  std::string out = "Checking connection \"" + connection + "\" of " + file + "\n";
  size_t width = 0;
  for (const auto& step : steps_) width = std::max(width, step.name.size());
  int failures = 0, warnings = 0;
  for (const auto& step : steps_) {
    out += "  ";
    out += status_mark(step.status);
    out += "  " + step.name + std::string(width - step.name.size() + 2, ' ') + step.detail + "\n";
    if (!step.advice.empty()) {
      out += std::string(8 + width + 2, ' ') + "what to do: " + step.advice + "\n";
    }
    failures += step.status == StepStatus::Failed;
    warnings += step.status == StepStatus::Warning;
  }
  if (failures > 0) {
    out += "Result: the connection does not work (" + std::to_string(failures) +
           (failures == 1 ? " step failed).\n" : " steps failed).\n");
  } else if (warnings > 0) {
    out += "Result: the connection works, with " + std::to_string(warnings) +
           (warnings == 1 ? " warning.\n" : " warnings.\n");
  } else {
    out += "Result: the connection works.\n";
  }
  return out;
}

std::string DoctorReport::json(const std::string& connection, const std::string& file) const {
  Json steps = Json::array();
  for (const auto& step : steps_) {
    steps.push_back({{"step", step.name},
                     {"status", status_word(step.status)},
                     {"detail", step.detail},
                     {"advice", step.advice}});
  }
  const Json document = {{"connection", connection},
                         {"connections_file", file},
                         {"ok", !failed()},
                         {"steps", std::move(steps)}};
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace host
