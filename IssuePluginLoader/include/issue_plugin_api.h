/* issue_plugin_api.h -- the C interface between a version-control server (the host) and an
 * issue-tracker plug-in. This header is the whole contract: the records that cross the
 * boundary, every export, what each writes, who frees what, and every code it returns.
 * Usable from C and C++. The list of export names is issue_plugin_exports.h.
 *
 * General rules
 * -------------
 * Loading.   The host loads the library by path, reads the six descriptor exports, refuses a
 *            plug-in whose KOVAIP_APIVersion differs from ISSUE_PLUGIN_API_VERSION, calls
 *            Initialize before anything else and Uninitialize when it is done.
 * Texts.     NUL-terminated byte strings, passed on as the server sent them (no character-set
 *            conversion). A NULL text the host passes is read as the empty text.
 * Ownership. Everything a plug-in hands out (texts, records, lists) belongs to the host until
 *            it gives it back to the release export named for it below; never free it with the
 *            host's own allocator. What the host passes in (RequestContext, field lists,
 *            IssueAttachment) is only read during the call and never kept or released.
 * Lists.     An array of record pointers plus a separate count. Give a list release export
 *            the count the producing export returned with that list.
 * Results.   An export that can fail returns ISSUE_PLUGIN_OK (0) or a non-zero code, and takes
 *            as its last argument `error`, the address of a text pointer. On success *error is
 *            NULL (ValidateWorkflow excepted); on failure it is a new message for a person, to
 *            be released with FreeString, or NULL when even that text could not be allocated.
 *            A NULL `error` makes the export return 1 without doing anything.
 *            The codes:
 *              1            ISSUE_PLUGIN_FAILED: a failure the plug-in words itself (connection
 *                           not found, invalid argument, out of memory, a reply it does not
 *                           understand, a Bugzilla "Client" fault);
 *              2, 3, 4      the connections reader's codes, from GetConnectionList only
 *                           (ISSUE_PLUGIN_CONNECTIONS_*; 1 is also the reader's "no root
 *                           element");
 *              202,203,204  ISSUE_PLUGIN_CONNECT_FAILED, _SEND_FAILED, _RECEIVE_FAILED: the
 *                           server could not be reached, the request not sent, no usable reply;
 *              other        a Bugzilla fault's own number, passed through (GetIssueDetails only;
 *                           e.g. 101 for an unknown bug, 300 for a wrong password).
 * Threads.   Every export may be called from any thread at any time, also while others run.
 *            The plug-in keeps one session per user (login and password or API key) and
 *            server, and locks only that session while an export talks to the server: exports
 *            of different users, or of one user on different servers, run at the same time;
 *            exports of one user on one server run one after the other, in the order they
 *            took the session. At most 64 sessions are kept (the least recently used is
 *            forgotten and signs in again when next used). Initialize and Uninitialize end
 *            every session; a host should not call them while other exports still run. No
 *            export shows anything or writes a log. */
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

/* The interface version this header describes; a plug-in's KOVAIP_APIVersion must equal it. */
#define ISSUE_PLUGIN_API_VERSION 1

/* Result codes (see "Results" above). */
#define ISSUE_PLUGIN_OK 0
#define ISSUE_PLUGIN_FAILED 1
#define ISSUE_PLUGIN_CONNECTIONS_NO_ROOT 1     /* the file is empty or not XML at all */
#define ISSUE_PLUGIN_CONNECTIONS_BAD_ENTRY 2   /* a member not a number, repeated or unknown */
#define ISSUE_PLUGIN_CONNECTIONS_BROKEN_XML 3  /* the XML breaks after the root element */
#define ISSUE_PLUGIN_CONNECTIONS_REFUSED 4     /* a DOCTYPE, or more than 1 MiB of text */
#define ISSUE_PLUGIN_CONNECT_FAILED 202
#define ISSUE_PLUGIN_SEND_FAILED 203
#define ISSUE_PLUGIN_RECEIVE_FAILED 204

/* Uninitialize's result when there was no cookie file to delete (or it could not be). */
#define ISSUE_PLUGIN_NO_SESSION_FILE (-1)

/* CustomFieldRecord.type: how the host shows or asks for a field. */
#define ISSUE_PLUGIN_FIELD_CHOICE 0    /* a value chosen from a fixed set (product, status...) */
#define ISSUE_PLUGIN_FIELD_TEXT 2      /* a one-line text (alias, a person, hours worked) */
#define ISSUE_PLUGIN_FIELD_LONG_TEXT 3 /* a free, multi-line text (a comment); the default */
#define ISSUE_PLUGIN_FIELD_DATETIME 5  /* a date-time, "YYYY-MM-DDTHH:MM:SS" as the server sent it */

/* Supplied by the host for one call; read during the call only. */
typedef struct RequestContext {
  char* login;           /* the user's Bugzilla login; the listing filters use it too */
  char* password;        /* the password (or, for a key connection, the API key); a secret */
  char* connection_name; /* a name GetConnectionList listed, matched exactly */
} RequestContext;

/* One configured connection, from GetConnectionList. */
typedef struct ConnectionEntry {
  char* name;   /* the connection's <name> */
  int32_t flag; /* always 1 in an entry handed out */
} ConnectionEntry;

/* One bug, from GetIssueList (several) and GetIssueDetails (one). No field is NULL in a record
 * handed out; a member the server did not send is the empty text. */
typedef struct IssueRecord {
  char* id;          /* the bug number as text */
  char* summary;
  char* severity;
  char* status;
  char* description; /* the text of the bug's first comment */
  int32_t flag1;     /* always 1 in a record handed out */
  int32_t flag2;     /* always 1 in a record handed out */
} IssueRecord;

/* One value of a CustomFieldRecord. */
typedef struct FieldChoice {
  char* label;  /* shown to a person; in a fix field the host passes back, the user's entry */
  char* value;  /* the raw value */
  int32_t flag; /* 1: this is the field's current value; 0: it is not (or the field is empty) */
} FieldChoice;

/* A field shown with a bug (GetIssueDetails) or asked of the user for a fix (GetFixWorkflow,
 * passed back to ValidateWorkflow and AttachToIssues with the entry in choices[0]->label). */
typedef struct CustomFieldRecord {
  char* label;          /* the caption, e.g. "Hours Worked" */
  char* key;            /* the Bugzilla field name, e.g. "work_time" */
  int32_t type;         /* ISSUE_PLUGIN_FIELD_* */
  FieldChoice** choices; /* choice_count choices, or NULL when there are none */
  int32_t choice_count;
} CustomFieldRecord;

/* A bug whose comment AttachToIssues could not add. */
typedef struct FailedAttachment {
  char* id;         /* the bug id as the host gave it */
  char* connection; /* the connection name as the host gave it */
  char* message;    /* why (the server's fault text or a transport message); may be NULL */
} FailedAttachment;

/* One file version of a check-in (host-owned). */
typedef struct AttachedFile {
  char* mainline;
  char* branch;
  char* repository;
  char* file;
  int32_t version;
} AttachedFile;

/* One bug a check-in is attached to (host-owned). */
typedef struct IssueAttachment {
  char* issue_id;
  char* connection_name;  /* each bug names its own connection */
  AttachedFile** files;   /* file_count files, one kova:// link each; NULL when none */
  uint32_t file_count;
  void* reserved;         /* not read; pass NULL */
  CustomFieldRecord** fix_fields; /* GetFixWorkflow's fields with the entries, or NULL: then
                                     the comment has no fix header and no hours */
  int32_t fix_field_count;
} IssueAttachment;

/* ---- Descriptor: exported data, not functions ----------------------------------------------
 * KOVAIP_APIVersion is a const int32_t. The five texts KOVAIP_PluginProvider, _PluginNotes,
 * _PluginVersion, _PluginUUID and _PluginAuthors are the character arrays themselves: read the
 * characters at the symbol's address, not a pointer stored there. */

/* ---- Lifecycle ---------------------------------------------------------------------------- */

/* Initialize: remembers the data directory that holds BugzillaConnections.txt and the
 * sessions' cookie files, cookies-<32 hex digits>.txt, one per user and server that signs in
 * by password (nothing is opened now), and forgets every session.
 *   directory  the data directory, without a trailing separator; NULL is read as "".
 *   error      set to NULL; on out of memory a message.
 * Returns 0, or 1 on out of memory or a NULL `error`. May be called again to change it. */
typedef int32_t (*InitializeFn)(const char* directory, char** error);

/* Uninitialize: ends every session and deletes its cookie file (that of a session an export
 * still uses once that export returns), and cookies.txt, the one file earlier versions kept.
 * Returns 0 when a cookie file was there to delete, ISSUE_PLUGIN_NO_SESSION_FILE (-1) when
 * there was none or it could not be deleted: that is not an error for the host. */
typedef int32_t (*UninitializeFn)(void);

/* ---- Release: each takes NULL (a list release then ignores the count) ---------------------- */

typedef void (*FreeStringFn)(char* text);                      /* any message or text */
typedef void (*FreeStringListFn)(char** list, uint32_t count); /* GetFilterList's list */
typedef void (*FreeConnectionListFn)(ConnectionEntry** list, uint32_t count);
/* GetIssueDetails' and GetFixWorkflow's field lists, choices included */
typedef void (*FreeCustomFieldsListFn)(CustomFieldRecord** list, uint32_t count);
typedef void (*FreeIssueFn)(IssueRecord* issue);               /* GetIssueDetails' record */
typedef void (*FreeIssueListFn)(IssueRecord** list, uint32_t count); /* skips NULL entries */
typedef void (*FreeFailedAttachmentListFn)(FailedAttachment** list, uint32_t count);

/* ---- Queries and updates ------------------------------------------------------------------- */

/* GetConnectionList: the connections of BugzillaConnections.txt, in file order, read afresh.
 *   unused        not read.
 *   list, count   required. On success a new list (non-NULL, possibly empty) and its count;
 *                 release with FreeConnectionList. Not written on failure.
 * Returns 0; 1 when the file does not exist ("BugzillaConnections.txt does not exist");
 * ISSUE_PLUGIN_CONNECTIONS_* when it cannot be parsed, with the reader's reason naming the
 * connection and member where it has one; 1 on a NULL argument or out of memory. */
typedef int32_t (*GetConnectionListFn)(void* unused, ConnectionEntry*** list, int32_t* count,
                                       char** error);

/* GetFilterList: the filters GetIssueList understands: "Assigned To Me", "Created By Me",
 * "Not Filtered".
 *   unused           not read.
 *   filters, count   required. On success a new string list of 3; release with FreeStringList.
 * Returns 0; 1 on a NULL argument or out of memory. */
typedef int32_t (*GetFilterListFn)(void* unused, char*** filters, int32_t* count, char** error);

/* GetIssueList: the bugs of the connection's product under a filter, each with its first
 * comment. Logs in afresh with the context's login and password.
 *   context         required; all three texts are used.
 *   filter          one of GetFilterList's names; any other text (or NULL) lists every bug.
 *   issues, count   required. On success with bugs: a new list and its count, release with
 *                   FreeIssueList. With no matching bug, or on failure: NOT WRITTEN, so
 *                   initialise them to NULL and 0.
 *   flag            required. 1 when a list was handed out; otherwise not written.
 * Returns 0 (also when no bug matches); 1 for every failure, whatever its cause (connection
 * not found, transport failure, Bugzilla fault, wrong password, NULL argument); the message
 * says which. */
typedef int32_t (*GetIssueListFn)(RequestContext* context, const char* filter,
                                  IssueRecord*** issues, int32_t* count, int32_t* flag,
                                  char** error);

/* GetIssueDetails: one bug with its fields (resolution when closed, product, component,
 * priority, severity, alias, assignee, last change, creation), reusing the session.
 *   context         required; all three texts are used.
 *   issue_id        the bug number or alias; NULL is read as "".
 *   issue           required. On success a new record, release with FreeIssue. Initialise it
 *                   to NULL: when only the last call (the field captions) fails, the record is
 *                   handed out beside the failure and must be released too.
 *   fields, count   required. On success a new list and its count, release with
 *                   FreeCustomFieldsList; not written on failure.
 * Returns 0; 1 (connection not found, reply not understood, "Client" fault, an API key of
 * another user, NULL argument, out of memory); 202/203/204; or the Bugzilla fault's own number
 * (101: no such bug or not visible; 300: wrong login or password; 306: unknown or revoked API
 * key; -32601: a server too old for API keys). */
typedef int32_t (*GetIssueDetailsFn)(RequestContext* context, const char* issue_id,
                                     IssueRecord** issue, CustomFieldRecord*** fields,
                                     int32_t* count, char** error);

/* GetFixWorkflow: the fields a fix asks of the user: "Hours Worked" (key "work_time", type
 * ISSUE_PLUGIN_FIELD_TEXT) and "Comment" (key "comment", ISSUE_PLUGIN_FIELD_LONG_TEXT), both
 * without choices. Fill each with one choice whose label is the entry, and pass them to
 * ValidateWorkflow and AttachToIssues.
 *   first, second, third   not read.
 *   fields, count          required; on success a new list of 2, release with
 *                          FreeCustomFieldsList.
 * Returns 0; 1 on a NULL argument or out of memory. */
typedef int32_t (*GetFixWorkflowFn)(void* first, void* second, void* third,
                                    CustomFieldRecord*** fields, int32_t* count, char** error);

/* ValidateWorkflow: checks a fix's entries (the hours as a whole number up to 99999, a comment
 * below 60,000 bytes). A rejection is a verdict, not a failure.
 *   first, second, third   not read.
 *   fields, count          the host's fields in GetFixWorkflow's order; NULL only with count 0.
 *   valid                  required: 1 accepted, 0 rejected.
 *   error                  required. Accepted: left as the host set it (set it to NULL first).
 *                          Rejected: the reason ("Wrong Number of Fields", "Too Many Hours
 *                          Worked", "Comment must be less than 60,000 characters"), release
 *                          with FreeString.
 * Returns 0 with a verdict; 1 (no verdict) on a NULL argument or out of memory. */
typedef int32_t (*ValidateWorkflowFn)(void* first, void* second, void* third,
                                      CustomFieldRecord** fields, int32_t count, int32_t* valid,
                                      char** error);

/* AttachToIssues: adds one comment per bug listing the check-in's files, each with a kova://
 * link to the version-control server named in BugzillaConnections.txt; with fix fields the
 * comment is headed by the fix comment and carries the hours worked.
 *   context              required; login and password are used (each bug names its connection).
 *   issues, count        the bugs; NULL only with count 0.
 *   failed, failed_count required. On return 0: the bugs whose comment failed (each with its
 *                        reason), release with FreeFailedAttachmentList; NULL and 0 when every
 *                        comment was added.
 * Returns 0 when every bug was processed (some comments may still have failed: see `failed`);
 * 1 when the version-control server's address or a bug's connection cannot be read from the
 * connections file (comments already added stay), on a NULL argument or out of memory. */
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
