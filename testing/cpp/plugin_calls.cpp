#include "plugin_calls.h"

namespace test_support {

namespace {

void take_message(LoadedPlugin& plugin, char* error, ExportResult& result) {
  if (error == nullptr) return;
  result.has_message = true;
  result.message = error;
  plugin.FreeString(error);
}

}  // namespace

std::string ExportResult::all_messages() const {
  std::string all = message;
  for (const std::string& text : refused) all += "\n" + text;
  return all;
}

ExportResult list_issues(LoadedPlugin& plugin, HostContext& context, const char* filter) {
  ExportResult result;
  IssueRecord** issues = nullptr;
  int32_t flag = 0;
  char* error = nullptr;
  result.code =
      plugin.GetIssueList(&context.context, filter, &issues, &result.count, &flag, &error);
  if (issues != nullptr) {
    for (int32_t i = 0; i < result.count; ++i) result.issue_ids.push_back(issues[i]->id);
    plugin.FreeIssueList(issues, static_cast<uint32_t>(result.count));
  }
  take_message(plugin, error, result);
  return result;
}

ExportResult issue_details(LoadedPlugin& plugin, HostContext& context, const char* issue_id) {
  ExportResult result;
  IssueRecord* issue = nullptr;
  CustomFieldRecord** fields = nullptr;
  char* error = nullptr;
  result.code =
      plugin.GetIssueDetails(&context.context, issue_id, &issue, &fields, &result.count, &error);
  plugin.FreeIssue(issue);
  if (fields != nullptr) plugin.FreeCustomFieldsList(fields, static_cast<uint32_t>(result.count));
  take_message(plugin, error, result);
  return result;
}

ExportResult attach_file(LoadedPlugin& plugin, HostContext& context, const char* issue_id) {
  std::string mainline = "main", branch = "dev", repository = "tools", file = "a.c";
  std::string id = issue_id;
  AttachedFile attached{&mainline[0], &branch[0], &repository[0], &file[0], 3};
  AttachedFile* files[] = {&attached};
  IssueAttachment issue{&id[0], context.context.connection_name, files, 1, nullptr, nullptr, 0};
  IssueAttachment* issues[] = {&issue};
  FailedAttachment** failed = nullptr;
  int32_t failed_count = 0;
  char* error = nullptr;
  ExportResult result;
  result.code =
      plugin.AttachToIssues(&context.context, issues, 1, &failed, &failed_count, &error);
  for (int32_t i = 0; failed != nullptr && i < failed_count; ++i) {
    result.refused.push_back(failed[i]->message ? failed[i]->message : "");
  }
  if (failed != nullptr) plugin.FreeFailedAttachmentList(failed, static_cast<uint32_t>(failed_count));
  take_message(plugin, error, result);
  return result;
}

}  // namespace test_support
