// Allocation and release of the records handed to the host. A counting replacement of the
// global allocator shows what each function allocates and frees, and can fail the Nth
// allocation to check that nothing leaks when memory runs out part-way.
#include "plugin_state.h"
#include "records.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>

namespace {

std::atomic<long> live_blocks{0};       // allocations not yet freed
std::atomic<long> allocations_left{-1};  // -1: never fail; n: fail after n more successes
std::atomic<size_t> last_size{0};

void* counted_allocate(size_t size) {
  long left = allocations_left.load();
  if (left == 0) throw std::bad_alloc();
  if (left > 0) allocations_left.store(left - 1);
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  last_size.store(size);
  ++live_blocks;
  return block;
}

void counted_free(void* block) noexcept {
  if (block == nullptr) return;
  --live_blocks;
  std::free(block);
}

// Fails the allocation after `successes` good ones, for the lifetime of the object.
struct FailAfter {
  explicit FailAfter(long successes) { allocations_left.store(successes); }
  ~FailAfter() { allocations_left.store(-1); }
};

}  // namespace

void* operator new(size_t size) { return counted_allocate(size); }
void* operator new[](size_t size) { return counted_allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return counted_allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block) noexcept { counted_free(block); }
void operator delete[](void* block) noexcept { counted_free(block); }
void operator delete(void* block, size_t) noexcept { counted_free(block); }
void operator delete[](void* block, size_t) noexcept { counted_free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { counted_free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { counted_free(block); }

namespace bugzilla {
namespace {

TEST(DupCstring, CopiesIntoAnArrayOfExactlyLengthPlusOne) {
  struct Case {
    const char* input;
    const char* expected;
  };
  for (const Case& c : {Case{"abc", "abc"}, Case{"", ""}, Case{nullptr, ""}}) {
    char* copy = dup_cstring(c.input);
    EXPECT_EQ(last_size.load(), std::strlen(c.expected) + 1);
    EXPECT_STREQ(copy, c.expected);
    EXPECT_NE(copy, c.input);
    free_string(copy);
  }
}

TEST(DupCstring, StdStringIsCutAtItsFirstNul) {
  char* copy = dup_cstring(std::string("ab\0cd", 5));
  EXPECT_EQ(last_size.load(), 3u);
  EXPECT_STREQ(copy, "ab");
  free_string(copy);
}

TEST(Allocators, ConnectionListStartsWithNullNamesAndFlagZero) {
  ConnectionEntry** list = new_connection_list(3);
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(list[i], nullptr);
    EXPECT_EQ(list[i]->name, nullptr);
    EXPECT_EQ(list[i]->flag, 0);
  }
  EXPECT_NE(list[0], list[1]);
  free_connection_list(list, 3);
}

TEST(Allocators, CustomFieldListStartsWithTypeThreeAndNoChoices) {
  CustomFieldRecord** list = new_custom_field_list(2);
  for (int i = 0; i < 2; ++i) {
    ASSERT_NE(list[i], nullptr);
    EXPECT_EQ(list[i]->label, nullptr);
    EXPECT_EQ(list[i]->key, nullptr);
    EXPECT_EQ(list[i]->type, 3);
    EXPECT_EQ(list[i]->choices, nullptr);
    EXPECT_EQ(list[i]->choice_count, 0);
  }
  free_custom_fields_list(list, 2);
}

TEST(Allocators, SingleChoiceIsOneEmptyUnflaggedChoice) {
  const long before = live_blocks.load();
  FieldChoice** choices = new_single_choice();
  EXPECT_EQ(live_blocks.load() - before, 2);  // the one-pointer array and its choice
  ASSERT_NE(choices[0], nullptr);
  EXPECT_EQ(choices[0]->label, nullptr);
  EXPECT_EQ(choices[0]->value, nullptr);
  EXPECT_EQ(choices[0]->flag, 0);
  // Released as part of a field, the way the host gives it back.
  CustomFieldRecord** fields = new_custom_field_list(1);
  fields[0]->choices = choices;
  fields[0]->choice_count = 1;
  free_custom_fields_list(fields, 1);
}

TEST(Allocators, IssueListStartsAllNullAndZero) {
  IssueRecord** list = new_issue_list(2);
  for (int i = 0; i < 2; ++i) {
    ASSERT_NE(list[i], nullptr);
    const IssueRecord& r = *list[i];
    EXPECT_TRUE(!r.id && !r.summary && !r.severity && !r.status && !r.description);
    EXPECT_EQ(r.flag1, 0);
    EXPECT_EQ(r.flag2, 0);
  }
  free_issue_list(list, 2);
}

TEST(Allocators, ZeroLengthListsAreNonNull) {
  const long before = live_blocks.load();
  ConnectionEntry** connections = new_connection_list(0);
  CustomFieldRecord** fields = new_custom_field_list(0);
  IssueRecord** issues = new_issue_list(0);
  EXPECT_NE(connections, nullptr);
  EXPECT_NE(fields, nullptr);
  EXPECT_NE(issues, nullptr);
  free_connection_list(connections, 0);
  free_custom_fields_list(fields, 0);
  free_issue_list(issues, 0);
  EXPECT_EQ(live_blocks.load(), before);
}

TEST(Allocators, CountsThatCannotFitThrowBadAlloc) {
  const size_t too_many = std::numeric_limits<size_t>::max() / 2;
  EXPECT_THROW(new_connection_list(too_many), std::bad_alloc);
  EXPECT_THROW(new_custom_field_list(too_many), std::bad_alloc);
  EXPECT_THROW(new_issue_list(too_many), std::bad_alloc);
}

// Fails each allocation of a list in turn: every failure must leave nothing allocated.
template <class Make>
void expect_no_leak_when_any_allocation_fails(Make make, long allocations) {
  for (long successes = 0; successes < allocations; ++successes) {
    const long before = live_blocks.load();
    {
      FailAfter fail(successes);
      EXPECT_THROW(make(), std::bad_alloc) << "failing allocation " << successes;
    }
    EXPECT_EQ(live_blocks.load(), before) << "failing allocation " << successes;
  }
}

TEST(Allocators, FailurePartWayReleasesWhatWasMade) {
  // Four records: the array plus four allocations.
  expect_no_leak_when_any_allocation_fails([] { new_connection_list(4); }, 5);
  expect_no_leak_when_any_allocation_fails([] { new_custom_field_list(4); }, 5);
  expect_no_leak_when_any_allocation_fails([] { new_issue_list(4); }, 5);
  expect_no_leak_when_any_allocation_fails([] { new_single_choice(); }, 2);
}

// Every text of every record filled, as the producing exports hand them out.
CustomFieldRecord** filled_fields(uint32_t count, int32_t choices_each) {
  CustomFieldRecord** list = new_custom_field_list(count);
  for (uint32_t i = 0; i < count; ++i) {
    list[i]->label = dup_cstring("Label");
    list[i]->key = dup_cstring("key");
    if (choices_each == 0) continue;
    list[i]->choices = new FieldChoice*[choices_each];
    list[i]->choice_count = choices_each;
    for (int32_t c = 0; c < choices_each; ++c) {
      list[i]->choices[c] = new FieldChoice{dup_cstring("shown"), dup_cstring("raw"), 1};
    }
  }
  return list;
}

IssueRecord* filled_issue() {
  return new IssueRecord{dup_cstring("7"),   dup_cstring("Crash"), dup_cstring("major"),
                         dup_cstring("NEW"), dup_cstring("text"),  1, 1};
}

// Each release must free exactly what was built: the live count returns to where it was.
TEST(Releases, FreeEverythingTheyAreGiven) {
  struct Case {
    const char* name;
    void (*build_and_release)();
  };
  const Case cases[] = {
      {"string", [] { free_string(dup_cstring("text")); }},
      {"string list",
       [] {
         char** list = new char*[3]{dup_cstring("a"), dup_cstring("bb"), dup_cstring("")};
         free_string_list(list, 3);
       }},
      {"connection list",
       [] {
         ConnectionEntry** list = new_connection_list(2);
         list[0]->name = dup_cstring("Main");
         list[1]->name = dup_cstring("QA");
         free_connection_list(list, 2);
       }},
      {"fields with choices", [] { free_custom_fields_list(filled_fields(3, 2), 3); }},
      {"fields without choices", [] { free_custom_fields_list(filled_fields(2, 0), 2); }},
      {"issue", [] { free_issue(filled_issue()); }},
      {"issue list",
       [] {
         IssueRecord** list = new IssueRecord*[2]{filled_issue(), filled_issue()};
         free_issue_list(list, 2);
       }},
      {"issue list fresh from the allocator", [] { free_issue_list(new_issue_list(3), 3); }},
      {"failed attachments",
       [] {
         FailedAttachment** list = new FailedAttachment*[2]{
             new FailedAttachment{dup_cstring("12"), dup_cstring("Main"), dup_cstring("why")},
             new FailedAttachment{dup_cstring("13"), dup_cstring("Main"), nullptr}};
         free_failed_attachment_list(list, 2);
       }},
  };
  for (const Case& c : cases) {
    const long before = live_blocks.load();
    c.build_and_release();
    EXPECT_EQ(live_blocks.load(), before) << c.name;
  }
}

TEST(Releases, NullEntriesAreSkippedInEveryList) {
  const long before = live_blocks.load();
  IssueRecord** issues = new IssueRecord*[3]{filled_issue(), nullptr, filled_issue()};
  free_issue_list(issues, 3);
  char** texts = new char*[2]{nullptr, dup_cstring("x")};
  free_string_list(texts, 2);
  free_connection_list(new ConnectionEntry*[1]{nullptr}, 1);
  free_custom_fields_list(new CustomFieldRecord*[1]{nullptr}, 1);
  free_failed_attachment_list(new FailedAttachment*[1]{nullptr}, 1);
  EXPECT_EQ(live_blocks.load(), before);
}

TEST(Releases, NullArraysAndRecordsAreIgnoredWhateverTheCount) {
  const long before = live_blocks.load();
  free_string(nullptr);
  free_issue(nullptr);
  free_string_list(nullptr, 5);
  free_connection_list(nullptr, 5);
  free_custom_fields_list(nullptr, 5);
  free_issue_list(nullptr, 5);
  free_failed_attachment_list(nullptr, 5);
  EXPECT_EQ(live_blocks.load(), before);
}

TEST(Releases, OnlyTheFirstChoiceCountChoicesAreReleased) {
  // A field whose count covers fewer choices than the array holds: the rest stay the
  // caller's, so they are freed here by hand.
  CustomFieldRecord** list = filled_fields(1, 2);
  FieldChoice* beyond_count = list[0]->choices[1];
  list[0]->choice_count = 1;
  const long before = live_blocks.load();
  free_custom_fields_list(list, 1);
  // label, key, choice 0 (three blocks), the choices array, the record, the list.
  EXPECT_EQ(before - live_blocks.load(), 8);
  free_string(beyond_count->label);
  free_string(beyond_count->value);
  delete beyond_count;
}

// GetConnectionList, with every one of its allocations failing in turn, reports "Out of
// memory" (or, when even that text cannot be made, no text), writes no list and leaks nothing.
TEST(OutOfMemory, GetConnectionListFailsCleanlyAtEveryAllocation) {
  test_support::TempDir dir;
  dir.write("BugzillaConnections.txt",
            "<?xml version=\"1.0\"?>\n<bugzilla_connections>\n"
            "<connection><name>Main</name><server_url>https://a.example</server_url></connection>\n"
            "<connection><name>QA</name><server_url>https://b.example</server_url></connection>\n"
            "</bugzilla_connections>\n");
  {
    std::lock_guard<std::mutex> lock(plugin_state_mutex());
    plugin_state().connections_file_path = dir.file("BugzillaConnections.txt");
  }
  bool succeeded = false;
  long successes = 0;
  for (; !succeeded && successes < 10000; ++successes) {
    ConnectionEntry* untouched[1] = {nullptr};
    ConnectionEntry** list = untouched;
    int32_t count = -7;
    char* error = nullptr;
    const long before = live_blocks.load();
    int32_t code;
    {
      FailAfter fail(successes);
      code = ::GetConnectionList(nullptr, &list, &count, &error);
    }
    if (code == 0) {
      succeeded = true;
      ASSERT_EQ(count, 2);
      EXPECT_STREQ(list[1]->name, "QA");
      free_connection_list(list, 2);
    } else {
      EXPECT_EQ(code, 1);
      if (error != nullptr) {
        EXPECT_STREQ(error, "Out of memory");
      }
      free_string(error);
      EXPECT_EQ(list, untouched);
      EXPECT_EQ(count, -7);
    }
    EXPECT_EQ(live_blocks.load(), before) << "failing allocation " << successes;
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GT(successes, 5);  // the sweep really went through the reading and the building
}

}  // namespace
}  // namespace bugzilla
