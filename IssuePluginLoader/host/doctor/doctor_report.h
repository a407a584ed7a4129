// Doctor's findings: one line per step with its outcome and, when it failed, what to do.
#pragma once

#include <string>
#include <vector>

namespace host {

enum class StepStatus { Ok, Warning, Failed, Skipped };

struct DoctorStep {
  std::string name;
  StepStatus status = StepStatus::Ok;
  std::string detail;
  std::string advice;  // what to do; empty when nothing is to be done
};

class DoctorReport {
public:
  void add(std::string name, StepStatus status, std::string detail, std::string advice = "");
  bool failed() const;
  const std::vector<DoctorStep>& steps() const { return steps_; }

  std::string text(const std::string& connection, const std::string& file) const;
  std::string json(const std::string& connection, const std::string& file) const;

private:
  std::vector<DoctorStep> steps_;
};

}  // namespace host
