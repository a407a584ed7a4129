// Looks for Bugzilla's REST API beside a web service path that answered "not found", so that
// doctor can name the base path to write in the connection.
#pragma once

#include <XmlRpc/XmlRpcValue.h>

#include <optional>
#include <string>

namespace host {

struct FoundRestService {
  std::string base_path;  // "/rest", "/bugzilla/rest.cgi"
  std::string url;        // the base URL, for the report
  std::string version;    // what GET {base}/version answered
};

// The directory of a web service path: "" for "/xmlrpc.cgi", "/bugzilla" for
// "/bugzilla/xmlrpc.cgi" (and for "/bugzilla/rest/").
std::string web_directory_of(const std::string& path);

// The last segment of a web service path, in lower case: "xmlrpc.cgi" for
// "/bugzilla/XMLRPC.cgi".
std::string last_segment_of(const std::string& path);

// GET {directory}/rest/version, then {directory}/rest.cgi/version, each with a client made
// from `connection` (its server, port and TLS settings) and the base path put in place of its
// web_service_extension; `already_tried` is left out. The first that answers JSON with a
// version, if any.
std::optional<FoundRestService> find_rest_service(const XmlRpc::XmlRpcValue& connection,
                                                  const std::string& directory,
                                                  const std::string& already_tried = "");

}  // namespace host
