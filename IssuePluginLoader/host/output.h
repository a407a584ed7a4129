// Where results and errors go: results on standard output, errors on standard error.
#pragma once

#include "plugin_results.h"

#include <string>

namespace host {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void print_out(const std::string& text);
// "issue-plugin-host: TEXT" on standard error.
void print_error(const std::string& text);

// Reports an export's failure with the plug-in's message and code; returns kExitFailure.
int report_plugin_failure(const std::string& export_name, int32_t code, const PluginText& message);

}  // namespace host
