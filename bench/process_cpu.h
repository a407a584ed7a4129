// The benchmark process's own CPU time, for the programs that time an export.
#pragma once

#include <sys/resource.h>

// User + system time of the whole process so far, in seconds: every thread of the plug-in,
// not the python server it talks to.
inline double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
