// The records the host passes into the plug-in for a fix: the filled-in fix fields and the
// issues with their files. The host owns them; the plug-in only reads them during the call.
#pragma once

#include "checkin/checkin.h"
#include "issue_plugin_api.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace host {

// The user's entries in the fields the plug-in's workflow asks for, each entry in the label of
// the field's one choice. Entries go by key: "work_time" gets the hours, "comment" the comment,
// any other field the empty text.
class FixEntries {
public:
  FixEntries(CustomFieldRecord* const* workflow, int32_t count, const std::string& hours,
             const std::string& comment);
  FixEntries(const FixEntries&) = delete;
  FixEntries& operator=(const FixEntries&) = delete;

  CustomFieldRecord** records() { return pointers_.data(); }
  int32_t count() const { return static_cast<int32_t>(pointers_.size()); }

private:
  char* keep(const char* text);
  std::deque<std::string> texts_;  // a deque never moves its elements
  std::deque<FieldChoice> choices_;
  std::vector<FieldChoice*> choice_pointers_;
  std::deque<CustomFieldRecord> fields_;
  std::vector<CustomFieldRecord*> pointers_;
};

// One IssueAttachment per bug, all with the same files and (when given) the same fix fields.
class AttachmentRecords {
public:
  AttachmentRecords(const CheckIn& checkin, FixEntries* fix);
  AttachmentRecords(const AttachmentRecords&) = delete;
  AttachmentRecords& operator=(const AttachmentRecords&) = delete;

  IssueAttachment** issues() { return issue_pointers_.data(); }
  uint32_t count() const { return static_cast<uint32_t>(issue_pointers_.size()); }

private:
  char* keep(const std::string& text);
  std::deque<std::string> texts_;
  std::deque<AttachedFile> files_;
  std::vector<AttachedFile*> file_pointers_;
  std::deque<IssueAttachment> issues_;
  std::vector<IssueAttachment*> issue_pointers_;
};

}  // namespace host
