// Runs the built issue-plugin-host as a child process, the way a person or a script does,
// and reads what it printed. Shared by the host's test files (header only: each test file is
// its own executable).
#pragma once

#include "test_platform.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

namespace host_test {

using Outcome = test_support::ProcessRun;
using RunOptions = test_support::ProcessOptions;

// Runs `program` with `args`; COLUMNS is fixed at 100 unless the options set it, and
// BUGZILLA_PASSWORD is cleared unless the options set it. A hung child is killed and the
// test fails.
inline Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                           RunOptions options = {}) {
  options.unset.push_back("BUGZILLA_PASSWORD");
  options.env.emplace("COLUMNS", "100");
  Outcome run = test_support::run_process(program, args, options);
  if (run.timed_out) {
    ADD_FAILURE() << program << " did not finish within " << options.timeout_seconds << " s";
  }
  return run;
}

inline Outcome run_host(const std::vector<std::string>& args, const RunOptions& options = {}) {
  return run_program(HOST_BINARY, args, options);
}

namespace detail {
inline void flatten(const std::string& path, const nlohmann::json& value,
                    std::map<std::string, std::string>& flat) {
  if (value.is_object()) {
    if (value.empty()) flat[path] = "{}";
    for (const auto& [name, member] : value.items()) flatten(path + "/" + name, member, flat);
  } else if (value.is_array()) {
    if (value.empty()) flat[path] = "[]";
    for (size_t i = 0; i < value.size(); ++i) flatten(path + "/" + std::to_string(i), value[i], flat);
  } else if (value.is_string()) {
    flat[path] = value.get<std::string>();
  } else {
    flat[path] = value.dump();
  }
}
}  // namespace detail

// The host's --json output parsed and flattened to "path" -> value: members by name,
// elements by index, each step written as "/name"; strings as they are, numbers and
// true/false/null as JSON writes them, empty containers as [] or {}. A document that does not
// parse (invalid UTF-8 included) gives the single key "!error".
inline std::map<std::string, std::string> flatten_json(const std::string& document) {
  std::map<std::string, std::string> flat;
  try {
    detail::flatten("", nlohmann::json::parse(document), flat);
  } catch (const nlohmann::json::exception& error) {
    return {{"!error", error.what()}};
  }
  return flat;
}

}  // namespace host_test
