// attach: a check-in's files attached to bugs as comments, with the fix entries when given.
#include "checkin.h"
#include "checkin_records.h"
#include "commands.h"
#include "fix_fields.h"
#include "json_writer.h"
#include "output.h"
#include "request.h"
#include "table.h"

namespace host {

int run_attach(const Arguments& arguments, Plugin& plugin) {
  const CheckIn checkin = gather_checkin(arguments);

  // With entries, they are checked as a fix would be before anything reaches Bugzilla.
  std::unique_ptr<FixEntries> fix;
  if (checkin.hours || checkin.comment) {
    fix = fill_fix_fields(plugin, checkin.hours.value_or(""), checkin.comment.value_or(""));
    if (!fix) return kExitFailure;
    Verdict verdict;
    if (!validate_fix_fields(plugin, *fix, verdict)) return kExitFailure;
    if (!verdict.valid) {
      print_error("the fix entries were rejected: " + verdict.message + "; nothing was attached");
      return kExitFailure;
    }
  }

  Request request(arguments);
  AttachmentRecords records(checkin, fix.get());
  PluginList<FailedAttachment> failed(plugin.FreeFailedAttachmentList);
  PluginText error(plugin);
  const int32_t code = plugin.AttachToIssues(request.context(), records.issues(), records.count(),
                                             failed.items_out(), failed.count_out(), error.out());
  if (code != 0) return report_plugin_failure("AttachToIssues", code, error);

  const auto text = [](const char* value) { return std::string(value != nullptr ? value : ""); };
  if (arguments.json) {
    JsonWriter json;
    json.begin_object().key("bugs").begin_array();
    for (const auto& bug : checkin.bugs) {
      json.begin_object().key("connection").value(bug.connection).key("id").value(bug.id).end_object();
    }
    json.end_array()
        .key("files").value(static_cast<int64_t>(checkin.files.size()))
        .key("fix_fields").value(fix != nullptr)
        .key("failed").begin_array();
    for (int32_t i = 0; i < failed.size(); ++i) {
      const FailedAttachment* entry = failed[i];
      if (entry == nullptr) continue;
      json.begin_object()
          .key("connection").value(entry->connection)
          .key("id").value(entry->id)
          .key("message").value(entry->message)
          .end_object();
    }
    json.end_array().end_object();
    print_out(json.str());
  } else {
    std::string bugs;
    for (const auto& bug : checkin.bugs) bugs += (bugs.empty() ? "" : ", ") + bug.connection + ":" + bug.id;
    std::string summary = "Check-in of " + std::to_string(checkin.files.size()) +
                          (checkin.files.size() == 1 ? " file" : " files") + " for " + bugs +
                          (fix ? ", with the fix entries" : "") + ".\n";
    if (failed.size() == 0) {
      summary += "Every comment was added.\n";
    } else {
      summary += "These comments failed:\n";
      Table table({"CONNECTION", "BUG", "MESSAGE"});
      for (int32_t i = 0; i < failed.size(); ++i) {
        const FailedAttachment* entry = failed[i];
        if (entry == nullptr) continue;
        table.add_row({text(entry->connection), text(entry->id),
                       entry->message != nullptr ? entry->message : "(no message)"});
      }
      summary += table.render(terminal_width());
    }
    print_out(summary);
  }
  if (failed.size() > 0) {
    print_error(std::to_string(failed.size()) +
                (failed.size() == 1 ? " comment failed" : " comments failed"));
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace host
