#include "output/output.h"

#include <cstdio>

namespace host {

void print_out(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void print_json(const Json& document) {
  print_out(document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
}

Json text_or_null(const char* text) { return text != nullptr ? Json(text) : Json(nullptr); }

void print_error(const std::string& text) {
  std::fprintf(stderr, "issue-plugin-host: %s\n", text.c_str());
  std::fflush(stderr);
}

int report_plugin_failure(const std::string& export_name, int32_t code, const PluginText& message) {
  std::string text = export_name + " failed";
  if (code != ISSUE_PLUGIN_OK && code != ISSUE_PLUGIN_FAILED) text += " (code " + std::to_string(code) + ")";
  text += ": " + message.text_or("the plug-in gave no message");
  print_error(text);
  return kExitFailure;
}

}  // namespace host
