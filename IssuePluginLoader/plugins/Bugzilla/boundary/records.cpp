// Records handed to the host: allocation with their initial values, and release.
// Everything here uses plain new / array-new so that the host can hand memory back to the
// matching release export, which frees it with the same allocator.
#include "records.h"

#include <cstring>
#include <limits>
#include <new>

namespace bugzilla {

namespace {

// An array of n pointers to new records, each a copy of `initial`. When an allocation fails
// part-way, the records made so far and the array are released before std::bad_alloc leaves.
template <class Record>
Record** new_record_list(size_t n, const Record& initial) {
  // new[] would report this as std::bad_array_new_length; the callers promise bad_alloc itself.
  if (n > std::numeric_limits<size_t>::max() / sizeof(Record*)) throw std::bad_alloc();
  Record** list = new Record*[n];
  size_t made = 0;
  try {
    for (; made < n; ++made) list[made] = new Record(initial);
  } catch (...) {
    for (size_t i = 0; i < made; ++i) delete list[i];
    delete[] list;
    throw;
  }
  return list;
}

void free_choice(FieldChoice* choice) noexcept {
  if (choice == nullptr) return;
  free_string(choice->label);
  free_string(choice->value);
  delete choice;
}

void free_custom_field(CustomFieldRecord* field) noexcept {
  if (field == nullptr) return;
  free_string(field->label);
  free_string(field->key);
  if (field->choices != nullptr) {
    // A negative count from a damaged record releases no choice rather than walking away.
    for (int32_t i = 0; i < field->choice_count; ++i) free_choice(field->choices[i]);
    delete[] field->choices;
  }
  delete field;
}

void free_failed_attachment(FailedAttachment* failed) noexcept {
  if (failed == nullptr) return;
  free_string(failed->connection);
  free_string(failed->message);
  free_string(failed->id);
  delete failed;
}

void free_connection(ConnectionEntry* entry) noexcept {
  if (entry == nullptr) return;
  free_string(entry->name);
  delete entry;
}

// Null entries are skipped in every list: only FreeIssueList is promised to see them, but a
// list abandoned half-built may hold them too.
template <class Record, void (*ReleaseOne)(Record*) noexcept>
void free_list(Record** list, uint32_t count) noexcept {
  if (list == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) ReleaseOne(list[i]);
  delete[] list;
}

}  // namespace

char* dup_cstring(const char* text) {
  const char* source = text_or_empty(text);
  const size_t size = std::strlen(source) + 1;
  char* copy = new char[size];
  std::memcpy(copy, source, size);
  return copy;
}

// A C text ends at its first NUL, so a string holding one is cut there.
char* dup_cstring(const std::string& text) { return dup_cstring(text.c_str()); }

ConnectionEntry** new_connection_list(size_t n) {
  return new_record_list(n, ConnectionEntry{nullptr, 0});
}

CustomFieldRecord** new_custom_field_list(size_t n) {
  return new_record_list(n, CustomFieldRecord{nullptr, nullptr, 3, nullptr, 0});
}

FieldChoice** new_single_choice() { return new_record_list(1, FieldChoice{nullptr, nullptr, 0}); }

IssueRecord** new_issue_list(size_t n) {
  return new_record_list(n, IssueRecord{nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0});
}

void free_string(char* text) noexcept { delete[] text; }

void free_string_list(char** list, uint32_t count) noexcept {
  free_list<char, free_string>(list, count);
}

void free_connection_list(ConnectionEntry** list, uint32_t count) noexcept {
  free_list<ConnectionEntry, free_connection>(list, count);
}

void free_custom_fields_list(CustomFieldRecord** list, uint32_t count) noexcept {
  free_list<CustomFieldRecord, free_custom_field>(list, count);
}

void free_issue(IssueRecord* issue) noexcept {
  if (issue == nullptr) return;
  free_string(issue->id);
  free_string(issue->description);
  free_string(issue->status);
  free_string(issue->summary);
  free_string(issue->severity);
  delete issue;
}

void free_issue_list(IssueRecord** list, uint32_t count) noexcept {
  free_list<IssueRecord, free_issue>(list, count);
}

void free_failed_attachment_list(FailedAttachment** list, uint32_t count) noexcept {
  free_list<FailedAttachment, free_failed_attachment>(list, count);
}

}  // namespace bugzilla
