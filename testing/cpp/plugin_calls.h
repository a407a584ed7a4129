// The three exports that talk to Bugzilla, called on a loaded plug-in the way a host calls
// them, with what the host gets back gathered into one value and everything released.
#pragma once

#include "plugin_loader.h"
#include "reply_values.h"

#include <string>
#include <vector>

namespace test_support {

struct ExportResult {
  int32_t code = -1;
  bool has_message = false;
  std::string message;                  // the export's error text
  int32_t count = 0;                    // issues listed, fields of the details
  std::vector<std::string> issue_ids;   // GetIssueList
  std::vector<std::string> refused;     // AttachToIssues: the failed comments' messages

  // Every text the host was handed about a failure, for checks that a secret is in none.
  std::string all_messages() const;
};

ExportResult list_issues(LoadedPlugin& plugin, HostContext& context,
                         const char* filter = "Not Filtered");
ExportResult issue_details(LoadedPlugin& plugin, HostContext& context, const char* issue_id);
// One check-in of one file attached to `issue_id` on the context's connection.
ExportResult attach_file(LoadedPlugin& plugin, HostContext& context, const char* issue_id);

}  // namespace test_support
