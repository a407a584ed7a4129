// One function per command; each returns the process's exit status.
#pragma once

#include "commands/options.h"
#include "plugin/plugin.h"

namespace host {

int run_describe(const Options& options, Plugin& plugin);
int run_connections(const Options& options, Plugin& plugin);
int run_filters(const Options& options, Plugin& plugin);
int run_list(const Options& options, Plugin& plugin);
int run_show(const Options& options, Plugin& plugin);
int run_workflow(const Options& options, Plugin& plugin);
int run_validate(const Options& options, Plugin& plugin);
int run_attach(const Options& options, Plugin& plugin);
// The Bugzilla plug-in's diagnostic (doctor/).
int run_doctor(const Options& options, Plugin& plugin);

}  // namespace host
