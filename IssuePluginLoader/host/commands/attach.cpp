// attach: a check-in's files attached to bugs as comments, with the fix entries when given.
#include "checkin/checkin.h"
#include "checkin/checkin_records.h"
#include "commands/commands.h"
#include "commands/fix_fields.h"
#include "output/output.h"
#include "credentials/request.h"
#include "output/table.h"

namespace host {

int run_attach(const Options& options, Plugin& plugin) {
  const CheckIn checkin = gather_checkin(options);

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

  Request request(options, checkin.bugs.front().connection);
  AttachmentRecords records(checkin, fix.get());
  PluginList<FailedAttachment> failed(plugin.FreeFailedAttachmentList);
  PluginText error(plugin);
  const int32_t code = plugin.AttachToIssues(request.context(), records.issues(), records.count(),
                                             failed.items_out(), failed.count_out(), error.out());
  if (code != 0) return report_plugin_failure("AttachToIssues", code, error);

  const auto text = [](const char* value) { return std::string(value != nullptr ? value : ""); };
  if (options.json) {
    Json bugs = Json::array();
    for (const auto& bug : checkin.bugs) bugs.push_back({{"connection", bug.connection}, {"id", bug.id}});
    Json failures = Json::array();
    for (int32_t i = 0; i < failed.size(); ++i) {
      const FailedAttachment* entry = failed[i];
      if (entry == nullptr) continue;
      failures.push_back({{"connection", text_or_null(entry->connection)},
                          {"id", text_or_null(entry->id)},
                          {"message", text_or_null(entry->message)}});
    }
    print_json({{"bugs", std::move(bugs)},
                {"files", checkin.files.size()},
                {"fix_fields", fix != nullptr},
                {"failed", std::move(failures)}});
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
