// The plug-in's C boundary: the descriptor, the lifecycle and every exported function.
// Each export checks its arguments, hands the work to the internal function and makes sure
// no exception reaches the host, which cannot catch C++ exceptions.
#include "connections.h"
#include "fix_workflow.h"
#include "issue_plugin_api.h"
#include "issues.h"
#include "plugin_state.h"
#include "records.h"
#include "session_table.h"

#include <XmlRpc/XmlRpcException.h>
#include <XmlRpc/XmlRpcPlatform.h>

#include <cstdio>
#include <exception>
#include <mutex>
#include <new>
#include <string>

extern "C" {

// Exported by their declarations in issue_plugin_api.h (GCC ignores the attribute when a
// definition repeats it). The host reads the characters at each text symbol's own address.
const int32_t KOVAIP_APIVersion = ISSUE_PLUGIN_API_VERSION;
const char KOVAIP_PluginProvider[] = "Bugzilla";
const char KOVAIP_PluginNotes[] =
    "This plugin allows Velloran to process attachments for Bugzilla.";
const char KOVAIP_PluginVersion[] = BUGZILLA_PLUGIN_VERSION;  // the project version in CMake
const char KOVAIP_PluginUUID[] = "5f0c2a9e-7d41-4b8a-9c3e-2e6d8b1f4a07";
const char KOVAIP_PluginAuthors[] = "Quenmoor Software";

}  // extern "C"

namespace {

using namespace bugzilla;

#if defined(_WIN32)
const char kPathSeparator[] = "\\";
#else
const char kPathSeparator[] = "/";
#endif

const char kInvalidArgument[] = "Invalid argument";

// A message for the host, or null when even that allocation fails.
char* message_or_null(const char* text) noexcept {
  try {
    return dup_cstring(text);
  } catch (...) {
    return nullptr;
  }
}

// "<export> failed: <kind><reason>", or null when even that allocation fails.
char* failure_message(const char* export_name, const char* kind, const char* reason) noexcept {
  try {
    return dup_cstring(std::string(export_name) + " failed: " + kind + reason);
  } catch (...) {
    return nullptr;
  }
}

int32_t invalid_argument(char** error_out) noexcept {
  if (error_out != nullptr) *error_out = message_or_null(kInvalidArgument);
  return 1;
}

// How an export treats the host's error-text pointer before the work starts.
enum class ErrorSeed {
  Null,  // the export reports "no message" as null
  Keep,  // a passing call leaves the host's value untouched (ValidateWorkflow)
};

// Runs `body(char** message)` for the export `name` and turns every exception into code 1
// with a message. The body writes its message into a local pointer first, so that a message
// made before an exception is released rather than handed out half-way.
template <class Body>
int32_t run_export(const char* name, char** error_out, ErrorSeed seed_kind,
                   Body&& body) noexcept {
  if (error_out == nullptr) return 1;
  char* const seed = seed_kind == ErrorSeed::Keep ? *error_out : nullptr;
  char* message = seed;
  char* failure = nullptr;
  try {
    try {
      const int32_t code = body(&message);
      *error_out = message;
      return code;
    } catch (...) {
      // Freed before the failure text is made: memory may be what ran out.
      if (message != seed) free_string(message);
      throw;
    }
  } catch (const std::bad_alloc&) {
    failure = message_or_null("Out of memory");
  } catch (const XmlRpc::XmlRpcException& error) {
    failure = failure_message(name, "unexpected XML-RPC value: ", error.what());
  } catch (const std::exception& error) {
    failure = failure_message(name, "", error.what());
  } catch (...) {
    failure = failure_message(name, "", "unknown error");
  }
  *error_out = failure;
  return 1;
}

// The host's context with null texts read as the empty text.
RequestContext context_or_empty(const RequestContext& context) noexcept {
  static char empty[] = "";
  return RequestContext{context.login ? context.login : empty,
                        context.password ? context.password : empty,
                        context.connection_name ? context.connection_name : empty};
}

template <class... Pointers>
bool all_set(const Pointers*... pointers) noexcept {
  return ((pointers != nullptr) && ...);
}

}  // namespace

extern "C" {

ISSUE_PLUGIN_EXPORT int32_t Initialize(const char* directory, char** error) {
  if (error == nullptr) return 1;
  try {
    std::string base = std::string(text_or_empty(directory)) + kPathSeparator;
    std::string connections_path = base + "BugzillaConnections.txt";
    {
      std::lock_guard<std::mutex> lock(plugin_state_mutex());
      PluginState& state = plugin_state();
      state.data_directory.swap(base);
      state.connections_file_path.swap(connections_path);
    }
    // A new start forgets whose sessions there were, so the next server calls log in again.
    session_table().release_all();
  } catch (...) {
    *error = message_or_null("Out of memory");
    return 1;
  }
  *error = nullptr;
  return 0;
}

// Forgets every session; each removes its cookie file as soon as no export uses it any more.
// 0 when a cookie file was there to remove (cookies.txt too, which earlier versions kept for
// everybody), -1 when there was none.
ISSUE_PLUGIN_EXPORT int32_t Uninitialize(void) {
  try {
    const SessionTable::Entries sessions = session_table().release_all();
    bool removed = XmlRpc::platform::remove_file(data_directory() + "cookies.txt");
    for (const auto& entry : sessions) {
      std::FILE* file = XmlRpc::platform::open_file(entry.second->cookie_file_path, "rb");
      if (file != nullptr) {
        std::fclose(file);
        removed = true;
      }
    }
    return removed ? 0 : -1;
  } catch (...) {
    return -1;
  }
}

ISSUE_PLUGIN_EXPORT void FreeString(char* text) { free_string(text); }

ISSUE_PLUGIN_EXPORT void FreeStringList(char** list, uint32_t count) {
  free_string_list(list, count);
}

ISSUE_PLUGIN_EXPORT void FreeConnectionList(ConnectionEntry** list, uint32_t count) {
  free_connection_list(list, count);
}

ISSUE_PLUGIN_EXPORT void FreeCustomFieldsList(CustomFieldRecord** list, uint32_t count) {
  free_custom_fields_list(list, count);
}

ISSUE_PLUGIN_EXPORT void FreeIssue(IssueRecord* issue) { free_issue(issue); }

ISSUE_PLUGIN_EXPORT void FreeIssueList(IssueRecord** list, uint32_t count) {
  free_issue_list(list, count);
}

ISSUE_PLUGIN_EXPORT void FreeFailedAttachmentList(FailedAttachment** list, uint32_t count) {
  free_failed_attachment_list(list, count);
}

ISSUE_PLUGIN_EXPORT int32_t GetConnectionList(void*, ConnectionEntry*** list, int32_t* count,
                                              char** error) {
  if (!all_set(list, count, error)) return invalid_argument(error);
  return run_export("GetConnectionList", error, ErrorSeed::Null, [&](char** message) {
    return get_connection_list(list, count, message);
  });
}

ISSUE_PLUGIN_EXPORT int32_t GetFilterList(void*, char*** filters, int32_t* count, char** error) {
  if (!all_set(filters, count, error)) return invalid_argument(error);
  return run_export("GetFilterList", error, ErrorSeed::Null, [&](char** message) {
    return get_filter_list(filters, count, message);
  });
}

ISSUE_PLUGIN_EXPORT int32_t GetIssueList(RequestContext* context, const char* filter,
                                         IssueRecord*** issues, int32_t* count, int32_t* flag,
                                         char** error) {
  if (!all_set(context, issues, count, flag, error)) return invalid_argument(error);
  return run_export("GetIssueList", error, ErrorSeed::Null, [&](char** message) {
    return get_issue_list(context_or_empty(*context), text_or_empty(filter), issues, count,
                          flag, message);
  });
}

ISSUE_PLUGIN_EXPORT int32_t GetIssueDetails(RequestContext* context, const char* issue_id,
                                            IssueRecord** issue, CustomFieldRecord*** fields,
                                            int32_t* count, char** error) {
  if (!all_set(context, issue, fields, count, error)) return invalid_argument(error);
  return run_export("GetIssueDetails", error, ErrorSeed::Null, [&](char** message) {
    return get_issue_details(context_or_empty(*context), text_or_empty(issue_id), issue,
                             fields, count, message);
  });
}

ISSUE_PLUGIN_EXPORT int32_t GetFixWorkflow(void*, void*, void*, CustomFieldRecord*** fields,
                                           int32_t* count, char** error) {
  if (!all_set(fields, count, error)) return invalid_argument(error);
  return run_export("GetFixWorkflow", error, ErrorSeed::Null, [&](char** message) {
    return get_fix_workflow(fields, count, message);
  });
}

ISSUE_PLUGIN_EXPORT int32_t ValidateWorkflow(void*, void*, void*, CustomFieldRecord** fields,
                                             int32_t count, int32_t* valid, char** error) {
  // An array is needed only when there are entries to read.
  if (!all_set(valid, error) || (fields == nullptr && count > 0)) return invalid_argument(error);
  return run_export("ValidateWorkflow", error, ErrorSeed::Keep, [&](char** message) {
    return validate_workflow(fields, count, valid, message);
  });
}

ISSUE_PLUGIN_EXPORT int32_t AttachToIssues(RequestContext* context, IssueAttachment** issues,
                                           uint32_t count, FailedAttachment*** failed,
                                           int32_t* failed_count, char** error) {
  if (!all_set(context, failed, failed_count, error) || (issues == nullptr && count > 0)) {
    return invalid_argument(error);
  }
  return run_export("AttachToIssues", error, ErrorSeed::Null, [&](char** message) {
    return attach_to_issues(context_or_empty(*context), issues, count, failed, failed_count,
                            message);
  });
}

}  // extern "C"
