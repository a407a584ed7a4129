// One function per command; each returns the process's exit status.
#pragma once

#include "arguments.h"
#include "plugin.h"

namespace host {

int run_describe(const Arguments& arguments, Plugin& plugin);
int run_connections(const Arguments& arguments, Plugin& plugin);
int run_filters(const Arguments& arguments, Plugin& plugin);
int run_list(const Arguments& arguments, Plugin& plugin);
int run_show(const Arguments& arguments, Plugin& plugin);
int run_workflow(const Arguments& arguments, Plugin& plugin);
int run_validate(const Arguments& arguments, Plugin& plugin);
int run_attach(const Arguments& arguments, Plugin& plugin);
int run_doctor(const Arguments& arguments, Plugin& plugin);

}  // namespace host
