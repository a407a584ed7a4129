#include "credentials/request.h"

#include "doctor/secret_kind.h"

namespace host {

Request::Request(const Options& options, const std::string& connection)
    : login_(options.user.value_or("")),
      password_(obtain_password(options.password_file, login_,
                                secret_name_for(options.data_dir, connection))),
      connection_(options.connection.value_or("")) {
  context_.login = login_.data();
  context_.password = password_.text().data();
  context_.connection_name = connection_.data();
}

}  // namespace host
