#include "request.h"

namespace host {

Request::Request(const Arguments& arguments)
    : login_(arguments.user.value_or("")),
      password_(obtain_password(arguments.password_file, login_)),
      connection_(arguments.connection.value_or("")) {
  context_.login = login_.data();
  context_.password = password_.text().data();
  context_.connection_name = connection_.data();
}

}  // namespace host
