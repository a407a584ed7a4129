// TEMPORARY STUB: replaced by the session work.
#include "server_calls.h"

#include <stdexcept>

namespace bugzilla {

const char kCaptionBugSearch[] = "Bug Search";
const char kCaptionGetComments[] = "Get Comments";
const char kCaptionVersion[] = "Bugzilla Version";
const char kCaptionGetBugs[] = "Get Bugs";
const char kCaptionBugFields[] = "Bug Fields";
const char kCaptionAddComment[] = "Add Comment";

std::unique_ptr<XmlRpc::XmlRpcClient> prepare_client(XmlRpc::XmlRpcValue&) {
  throw std::logic_error("Not implemented");
}
int call_with_login(XmlRpc::XmlRpcClient&, const RequestContext&, const char*,
                    XmlRpc::XmlRpcValue&, XmlRpc::XmlRpcValue) {
  throw std::logic_error("Not implemented");
}
int login_user(XmlRpc::XmlRpcClient, const RequestContext&, XmlRpc::XmlRpcValue&) {
  throw std::logic_error("Not implemented");
}
bool call_failed(int, const XmlRpc::XmlRpcValue&) { throw std::logic_error("Not implemented"); }
int describe_call_failure(int, const char*, char**, XmlRpc::XmlRpcValue) {
  throw std::logic_error("Not implemented");
}
char* format_message(const char*, const char*) { throw std::logic_error("Not implemented"); }
char* reply_not_understood(const char*) { throw std::logic_error("Not implemented"); }
int cookie_expired(std::FILE*) { throw std::logic_error("Not implemented"); }
int cookie_expired(std::FILE*, double) { throw std::logic_error("Not implemented"); }

}  // namespace bugzilla
