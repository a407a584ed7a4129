#include "checkin/checkin_records.h"

#include <cstring>

namespace host {

char* FixEntries::keep(const char* text) {
  texts_.emplace_back(text != nullptr ? text : "");
  return texts_.back().data();
}

FixEntries::FixEntries(CustomFieldRecord* const* workflow, int32_t count, const std::string& hours,
                       const std::string& comment) {
  for (int32_t i = 0; i < count; ++i) {
    const CustomFieldRecord* asked = workflow[i];
    const char* key = asked != nullptr ? asked->key : nullptr;
    const char* entry = "";
    if (key != nullptr && std::strcmp(key, "work_time") == 0) entry = hours.c_str();
    if (key != nullptr && std::strcmp(key, "comment") == 0) entry = comment.c_str();
    FieldChoice& choice = choices_.emplace_back();
    choice.label = keep(entry);
    choice.value = keep(entry);
    choice.flag = 1;
    choice_pointers_.push_back(&choice);
  }
  for (int32_t i = 0; i < count; ++i) {
    const CustomFieldRecord* asked = workflow[i];
    CustomFieldRecord& field = fields_.emplace_back();
    field.label = keep(asked != nullptr ? asked->label : nullptr);
    field.key = keep(asked != nullptr ? asked->key : nullptr);
    field.type = asked != nullptr ? asked->type : 3;
    field.choices = &choice_pointers_[static_cast<size_t>(i)];
    field.choice_count = 1;
    pointers_.push_back(&field);
  }
}

char* AttachmentRecords::keep(const std::string& text) {
  texts_.push_back(text);
  return texts_.back().data();
}

AttachmentRecords::AttachmentRecords(const CheckIn& checkin, FixEntries* fix) {
  for (const auto& file : checkin.files) {
    AttachedFile& record = files_.emplace_back();
    record.mainline = keep(file.mainline);
    record.branch = keep(file.branch);
    record.repository = keep(file.repository);
    record.file = keep(file.file);
    record.version = file.version;
    file_pointers_.push_back(&record);
  }
  for (const auto& bug : checkin.bugs) {
    IssueAttachment& issue = issues_.emplace_back();
    issue.issue_id = keep(bug.id);
    issue.connection_name = keep(bug.connection);
    issue.files = file_pointers_.empty() ? nullptr : file_pointers_.data();
    issue.file_count = static_cast<uint32_t>(file_pointers_.size());
    issue.reserved = nullptr;
    issue.fix_fields = fix != nullptr ? fix->records() : nullptr;
    issue.fix_field_count = fix != nullptr ? fix->count() : 0;
    issue_pointers_.push_back(&issue);
  }
}

}  // namespace host
