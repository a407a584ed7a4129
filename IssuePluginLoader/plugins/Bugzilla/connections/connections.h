// The connections file: reading it, listing its connections, finding one by name.
#pragma once

#include "issue_plugin_api.h"

#include <XmlRpc/XmlRpcValue.h>

#include <string>

namespace bugzilla {

// Reads a text file line by line and joins the lines with nothing between them (line feeds
// and carriage returns dropped). False when the file cannot be opened.
bool read_joined_file(const std::string& path, std::string& joined);

// Both store a new message at *error_out on failure without releasing what was there, so the
// caller passes a null one. The connection is written only when it is found.
int load_connections(XmlRpc::XmlRpcValue& list, char** error_out);
int find_connection(const char* name, XmlRpc::XmlRpcValue& connection, char** error_out);
// The same lookup in the connections file at `path`, for callers outside an export.
int find_connection_in(const std::string& path, const char* name,
                       XmlRpc::XmlRpcValue& connection, char** error_out);

int32_t get_connection_list(ConnectionEntry*** list_out, int32_t* count_out, char** error_out);

}  // namespace bugzilla
