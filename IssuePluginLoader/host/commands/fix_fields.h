// The fix workflow as the host drives it: ask the plug-in for its fields, fill in the user's
// entries, have the plug-in validate them.
#pragma once

#include "checkin/checkin_records.h"
#include "plugin/plugin.h"

#include <memory>
#include <string>

namespace host {

// The plug-in's fields filled with the entries; null (error printed) when GetFixWorkflow fails.
std::unique_ptr<FixEntries> fill_fix_fields(Plugin& plugin, const std::string& hours,
                                            const std::string& comment);

struct Verdict {
  bool valid = false;
  std::string message;  // the plug-in's reason when not valid
};

// False (error printed) when ValidateWorkflow itself fails; else the verdict.
bool validate_fix_fields(Plugin& plugin, FixEntries& entries, Verdict& verdict);

}  // namespace host
