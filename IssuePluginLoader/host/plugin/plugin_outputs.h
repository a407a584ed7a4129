// Holders for what the plug-in hands out: each gives it back to the plug-in's own release
// export when it goes, never to the host's allocator.
#pragma once

#include "plugin/plugin.h"

#include <cstdint>
#include <string>

namespace host {

// An error or verdict text (released with FreeString).
class PluginText {
public:
  explicit PluginText(const Plugin& plugin) : plugin_(plugin) {}
  ~PluginText() { plugin_.FreeString(text_); }
  PluginText(const PluginText&) = delete;
  PluginText& operator=(const PluginText&) = delete;

  char** out() { return &text_; }
  const char* get() const { return text_; }
  bool empty() const { return text_ == nullptr || *text_ == '\0'; }
  std::string text_or(const std::string& fallback) const {
    return empty() ? fallback : std::string(text_);
  }

private:
  const Plugin& plugin_;
  char* text_ = nullptr;
};

// A list of records with its count, released with the list's release export and the count
// the producing export returned.
template <class Record>
class PluginList {
public:
  using Release = void (*)(Record**, uint32_t);
  explicit PluginList(Release release) : release_(release) {}
  ~PluginList() { release_(items_, static_cast<uint32_t>(count_)); }
  PluginList(const PluginList&) = delete;
  PluginList& operator=(const PluginList&) = delete;

  Record*** items_out() { return &items_; }
  int32_t* count_out() { return &count_; }
  Record** items() const { return items_; }
  // Entries that may be read: none without an array, never a negative count.
  int32_t size() const { return items_ == nullptr || count_ < 0 ? 0 : count_; }
  Record* operator[](int32_t i) const { return items_[i]; }

private:
  Release release_;
  Record** items_ = nullptr;
  int32_t count_ = 0;
};

// One bug record (released with FreeIssue).
class PluginIssue {
public:
  explicit PluginIssue(const Plugin& plugin) : plugin_(plugin) {}
  ~PluginIssue() { plugin_.FreeIssue(issue_); }
  PluginIssue(const PluginIssue&) = delete;
  PluginIssue& operator=(const PluginIssue&) = delete;

  IssueRecord** out() { return &issue_; }
  const IssueRecord* get() const { return issue_; }

private:
  const Plugin& plugin_;
  IssueRecord* issue_ = nullptr;
};

}  // namespace host
