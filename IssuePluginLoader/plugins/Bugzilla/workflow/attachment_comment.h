// The text of the Bugzilla comments that record a check-in, and how an issue's files are
// spread over comments so that none grows past what Bugzilla accepts.
#pragma once

#include "issue_plugin_api.h"

#include <cstddef>
#include <string>
#include <vector>

namespace bugzilla {

// The version-control server that the kova:// links point back to.
struct VelloranServer {
  std::string ip_address;
  int port = 0;
};

// Bugzilla refuses comments over 65535 characters; the estimates below never undercount.
constexpr size_t kCommentLimit = 65530;

// Estimated bytes of the fix header and of one file's block.
size_t fix_header_estimate(const char* fix_comment);
size_t file_block_estimate(const AttachedFile& file, const VelloranServer& server);

// "Fix Comment: <comment>" and a blank line.
void append_fix_header(std::string& text, const char* fix_comment);
// The file's block, ending in its kova:// link and a blank line. Null texts read as empty.
void append_file_block(std::string& text, const AttachedFile& file,
                       const VelloranServer& server);

// One comment of an issue: whether it starts with the fix header, and its run of files.
struct CommentSpan {
  bool fix_header = false;
  size_t first_file = 0;
  size_t file_count = 0;
};

// Splits the files (given by their block estimates, in order) into comments. A file joins
// the comment being built while the estimate with it stays within kCommentLimit, or when the
// comment is otherwise empty, so only a single oversized block can exceed the limit. The
// header, when there is one, opens the first comment. Always at least one comment.
std::vector<CommentSpan> plan_comments(bool with_fix_header, size_t header_estimate,
                                       const std::vector<size_t>& block_estimates);

}  // namespace bugzilla
