// Allocation, copying and release of the records handed to the host.
#pragma once

#include "issue_plugin_api.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace bugzilla {

// Host texts may be null; they read as the empty text.
inline const char* text_or_empty(const char* text) { return text ? text : ""; }

// A new character array of exactly the text's length plus one (null reads as empty; a
// std::string ends at its first NUL, as the host would read it).
char* dup_cstring(const char* text);
char* dup_cstring(const std::string& text);

// Arrays of n new records, each initialised as the host expects (see records.cpp).
// On allocation failure nothing is leaked and std::bad_alloc propagates.
ConnectionEntry** new_connection_list(size_t n);
CustomFieldRecord** new_custom_field_list(size_t n);
FieldChoice** new_single_choice();
IssueRecord** new_issue_list(size_t n);

// Release functions behind the exports; none throws.
void free_string(char* text) noexcept;
void free_string_list(char** list, uint32_t count) noexcept;
void free_connection_list(ConnectionEntry** list, uint32_t count) noexcept;
void free_custom_fields_list(CustomFieldRecord** list, uint32_t count) noexcept;
void free_issue(IssueRecord* issue) noexcept;
void free_issue_list(IssueRecord** list, uint32_t count) noexcept;
void free_failed_attachment_list(FailedAttachment** list, uint32_t count) noexcept;

// Owns a list while it is being built, so that an exception part-way leaks nothing.
template <class Record, void (*Release)(Record**, uint32_t) noexcept>
class OwnedList {
public:
  OwnedList(Record** list, uint32_t count) : list_(list), count_(count) {}
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;
  ~OwnedList() { Release(list_, count_); }
  Record*& operator[](size_t i) { return list_[i]; }
  Record** release() {
    Record** list = list_;
    list_ = nullptr;
    count_ = 0;
    return list;
  }

private:
  Record** list_ = nullptr;
  uint32_t count_ = 0;
};

using OwnedIssueList = OwnedList<IssueRecord, free_issue_list>;
using OwnedFieldList = OwnedList<CustomFieldRecord, free_custom_fields_list>;
using OwnedConnectionList = OwnedList<ConnectionEntry, free_connection_list>;
using OwnedStringList = OwnedList<char, free_string_list>;

}  // namespace bugzilla
