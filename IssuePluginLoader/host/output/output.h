// Where results and errors go: results on standard output, errors on standard error.
#pragma once

#include "plugin/plugin_outputs.h"

#include <nlohmann/json.hpp>

#include <string>

namespace host {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The --json documents keep their members in the order they are written.
using Json = nlohmann::ordered_json;

void print_out(const std::string& text);
// Indented by two, with a final line feed. Bytes that are not UTF-8 become U+FFFD, so the
// output is always valid JSON whatever a server sent.
void print_json(const Json& document);
// "issue-plugin-host: TEXT" on standard error.
void print_error(const std::string& text);

// A text the plug-in handed out: null stays null in JSON.
Json text_or_null(const char* text);

// Reports an export's failure with the plug-in's message and code; returns kExitFailure.
int report_plugin_failure(const std::string& export_name, int32_t code, const PluginText& message);

}  // namespace host
