// The three fixed filter names the host offers for a bug list.
#include "issues.h"
#include "records.h"

namespace bugzilla {

const char kFilterAssignedToMe[] = "Assigned To Me";
const char kFilterCreatedByMe[] = "Created By Me";
const char kFilterNotFiltered[] = "Not Filtered";

int32_t get_filter_list(char*** filters_out, int32_t* count_out, char** error_out) {
  static const char* const kNames[] = {kFilterAssignedToMe, kFilterCreatedByMe,
                                       kFilterNotFiltered};
  constexpr uint32_t kCount = sizeof(kNames) / sizeof(kNames[0]);
  OwnedStringList names(new char*[kCount](), kCount);
  for (uint32_t i = 0; i < kCount; ++i) names[i] = dup_cstring(kNames[i]);
  *filters_out = names.release();
  *count_out = static_cast<int32_t>(kCount);
  *error_out = nullptr;
  return 0;
}

}  // namespace bugzilla
