/* The C interface between the version-control server (the host) and an issue-tracker
 * plug-in: the records that cross the boundary and the signatures of every export.
 * Usable from C and C++. Everything a plug-in hands out is released with its own release
 * export, never with the host's allocator. */
#ifndef ISSUE_PLUGIN_API_H
#define ISSUE_PLUGIN_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define ISSUE_PLUGIN_EXPORT __declspec(dllexport)
#else
#define ISSUE_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

#define ISSUE_PLUGIN_API_VERSION 1

typedef struct RequestContext {
  char* login;
  char* password;
  char* connection_name;
} RequestContext;

typedef struct ConnectionEntry {
  char* name;
  int32_t flag;
} ConnectionEntry;

typedef struct IssueRecord {
  char* id;
  char* summary;
  char* severity;
  char* status;
  char* description;
  int32_t flag1;
  int32_t flag2;
} IssueRecord;

typedef struct FieldChoice {
  char* label;
  char* value;
  int32_t flag;
} FieldChoice;

typedef struct CustomFieldRecord {
  char* label;
  char* key;
  int32_t type;
  FieldChoice** choices;
  int32_t choice_count;
} CustomFieldRecord;

typedef struct FailedAttachment {
  char* id;
  char* connection;
  char* message;
} FailedAttachment;

typedef struct AttachedFile {
  char* mainline;
  char* branch;
  char* repository;
  char* file;
  int32_t version;
} AttachedFile;

typedef struct IssueAttachment {
  char* issue_id;
  char* connection_name;
  AttachedFile** files;
  uint32_t file_count;
  void* reserved;
  CustomFieldRecord** fix_fields;
  int32_t fix_field_count;
} IssueAttachment;

/* Descriptor: the five texts are the character arrays themselves. */
typedef int32_t IssuePluginApiVersion;

/* Lifecycle */
typedef int32_t (*InitializeFn)(const char* directory, char** error);
typedef int32_t (*UninitializeFn)(void);

/* Release */
typedef void (*FreeStringFn)(char* text);
typedef void (*FreeStringListFn)(char** list, uint32_t count);
typedef void (*FreeConnectionListFn)(ConnectionEntry** list, uint32_t count);
typedef void (*FreeCustomFieldsListFn)(CustomFieldRecord** list, uint32_t count);
typedef void (*FreeIssueFn)(IssueRecord* issue);
typedef void (*FreeIssueListFn)(IssueRecord** list, uint32_t count);
typedef void (*FreeFailedAttachmentListFn)(FailedAttachment** list, uint32_t count);

/* Queries and updates */
typedef int32_t (*GetConnectionListFn)(void* unused, ConnectionEntry*** list, int32_t* count,
                                       char** error);
typedef int32_t (*GetFilterListFn)(void* unused, char*** filters, int32_t* count, char** error);
typedef int32_t (*GetIssueListFn)(RequestContext* context, const char* filter,
                                  IssueRecord*** issues, int32_t* count, int32_t* flag,
                                  char** error);
typedef int32_t (*GetIssueDetailsFn)(RequestContext* context, const char* issue_id,
                                     IssueRecord** issue, CustomFieldRecord*** fields,
                                     int32_t* count, char** error);
typedef int32_t (*GetFixWorkflowFn)(void* first, void* second, void* third,
                                    CustomFieldRecord*** fields, int32_t* count, char** error);
typedef int32_t (*ValidateWorkflowFn)(void* first, void* second, void* third,
                                      CustomFieldRecord** fields, int32_t count, int32_t* valid,
                                      char** error);
typedef int32_t (*AttachToIssuesFn)(RequestContext* context, IssueAttachment** issues,
                                    uint32_t count, FailedAttachment*** failed,
                                    int32_t* failed_count, char** error);

#ifdef ISSUE_PLUGIN_DECLARE_EXPORTS
/* Declarations for a plug-in that implements this interface. */
ISSUE_PLUGIN_EXPORT extern const int32_t KOVAIP_APIVersion;
ISSUE_PLUGIN_EXPORT extern const char KOVAIP_PluginProvider[];
ISSUE_PLUGIN_EXPORT extern const char KOVAIP_PluginNotes[];
ISSUE_PLUGIN_EXPORT extern const char KOVAIP_PluginVersion[];
ISSUE_PLUGIN_EXPORT extern const char KOVAIP_PluginUUID[];
ISSUE_PLUGIN_EXPORT extern const char KOVAIP_PluginAuthors[];

ISSUE_PLUGIN_EXPORT int32_t Initialize(const char* directory, char** error);
ISSUE_PLUGIN_EXPORT int32_t Uninitialize(void);

ISSUE_PLUGIN_EXPORT void FreeString(char* text);
ISSUE_PLUGIN_EXPORT void FreeStringList(char** list, uint32_t count);
ISSUE_PLUGIN_EXPORT void FreeConnectionList(ConnectionEntry** list, uint32_t count);
ISSUE_PLUGIN_EXPORT void FreeCustomFieldsList(CustomFieldRecord** list, uint32_t count);
ISSUE_PLUGIN_EXPORT void FreeIssue(IssueRecord* issue);
ISSUE_PLUGIN_EXPORT void FreeIssueList(IssueRecord** list, uint32_t count);
ISSUE_PLUGIN_EXPORT void FreeFailedAttachmentList(FailedAttachment** list, uint32_t count);

ISSUE_PLUGIN_EXPORT int32_t GetConnectionList(void* unused, ConnectionEntry*** list,
                                              int32_t* count, char** error);
ISSUE_PLUGIN_EXPORT int32_t GetFilterList(void* unused, char*** filters, int32_t* count,
                                          char** error);
ISSUE_PLUGIN_EXPORT int32_t GetIssueList(RequestContext* context, const char* filter,
                                         IssueRecord*** issues, int32_t* count, int32_t* flag,
                                         char** error);
ISSUE_PLUGIN_EXPORT int32_t GetIssueDetails(RequestContext* context, const char* issue_id,
                                            IssueRecord** issue, CustomFieldRecord*** fields,
                                            int32_t* count, char** error);
ISSUE_PLUGIN_EXPORT int32_t GetFixWorkflow(void* first, void* second, void* third,
                                           CustomFieldRecord*** fields, int32_t* count,
                                           char** error);
ISSUE_PLUGIN_EXPORT int32_t ValidateWorkflow(void* first, void* second, void* third,
                                             CustomFieldRecord** fields, int32_t count,
                                             int32_t* valid, char** error);
ISSUE_PLUGIN_EXPORT int32_t AttachToIssues(RequestContext* context, IssueAttachment** issues,
                                           uint32_t count, FailedAttachment*** failed,
                                           int32_t* failed_count, char** error);
#endif

#ifdef __cplusplus
}
#endif

#endif /* ISSUE_PLUGIN_API_H */
