/* issue_plugin_exports.h -- the 22 names an issue-tracker plug-in exports, written once.
 * Loaders generate their symbol tables from these lists; a test checks the plug-in's version
 * script against them. Each descriptor is exported as "KOVAIP_" followed by its short name.
 *
 *   ISSUE_PLUGIN_DESCRIPTORS(X)  X(ShortName, type of the value at the symbol's address)
 *   ISSUE_PLUGIN_FUNCTIONS(X)    X(Name); the pointer type is Name##Fn (issue_plugin_api.h) */
#ifndef ISSUE_PLUGIN_EXPORTS_H
#define ISSUE_PLUGIN_EXPORTS_H

#include "issue_plugin_api.h"

#define ISSUE_PLUGIN_DESCRIPTORS(X) \
  X(APIVersion, int32_t)            \
  X(PluginProvider, char)           \
  X(PluginNotes, char)              \
  X(PluginVersion, char)            \
  X(PluginUUID, char)               \
  X(PluginAuthors, char)

#define ISSUE_PLUGIN_FUNCTIONS(X) \
  X(Initialize)                   \
  X(Uninitialize)                 \
  X(FreeString)                   \
  X(FreeStringList)               \
  X(FreeConnectionList)           \
  X(FreeCustomFieldsList)         \
  X(FreeIssue)                    \
  X(FreeIssueList)                \
  X(FreeFailedAttachmentList)     \
  X(GetConnectionList)            \
  X(GetFilterList)                \
  X(GetIssueList)                 \
  X(GetIssueDetails)              \
  X(GetFixWorkflow)               \
  X(ValidateWorkflow)             \
  X(AttachToIssues)

#ifdef __cplusplus
/* Binds every export through `lookup(const char* symbol) -> void*`, which must not return
 * null (it throws or fails its own way). One definition for every C++ loader. */
template <class Table, class Lookup>
void bind_issue_plugin_exports(Table& table, Lookup&& lookup) {
#define ISSUE_PLUGIN_BIND_DESCRIPTOR(name, type) \
  table.name = static_cast<const type*>(lookup("KOVAIP_" #name));
#define ISSUE_PLUGIN_BIND_FUNCTION(name) table.name = reinterpret_cast<name##Fn>(lookup(#name));
  ISSUE_PLUGIN_DESCRIPTORS(ISSUE_PLUGIN_BIND_DESCRIPTOR)
  ISSUE_PLUGIN_FUNCTIONS(ISSUE_PLUGIN_BIND_FUNCTION)
#undef ISSUE_PLUGIN_BIND_DESCRIPTOR
#undef ISSUE_PLUGIN_BIND_FUNCTION
}

/* A loader's table: `const int32_t* APIVersion; const char* PluginProvider; ...
 * InitializeFn Initialize; ...`, all null until bound. */
struct IssuePluginExports {
#define ISSUE_PLUGIN_DESCRIPTOR_MEMBER(name, type) const type* name = nullptr;
#define ISSUE_PLUGIN_FUNCTION_MEMBER(name) name##Fn name = nullptr;
  ISSUE_PLUGIN_DESCRIPTORS(ISSUE_PLUGIN_DESCRIPTOR_MEMBER)
  ISSUE_PLUGIN_FUNCTIONS(ISSUE_PLUGIN_FUNCTION_MEMBER)
#undef ISSUE_PLUGIN_DESCRIPTOR_MEMBER
#undef ISSUE_PLUGIN_FUNCTION_MEMBER
};
#endif

#endif /* ISSUE_PLUGIN_EXPORTS_H */
