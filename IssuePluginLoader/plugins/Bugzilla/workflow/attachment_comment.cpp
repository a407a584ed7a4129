// Comment texts for attached check-ins and their split over several comments.
#include "attachment_comment.h"

#include "records.h"

#include <cstring>

namespace bugzilla {

namespace {

// Fixed text of a block plus room for the two numbers (version and port), rounded up.
constexpr size_t kBlockOverhead = 115;
constexpr size_t kHeaderOverhead = 15;  // "Fix Comment: " and the blank line

size_t length_of(const char* text) { return std::strlen(text_or_empty(text)); }

}  // namespace

size_t fix_header_estimate(const char* fix_comment) {
  return length_of(fix_comment) + kHeaderOverhead;
}

size_t file_block_estimate(const AttachedFile& file, const VelloranServer& server) {
  // Branch, repository and file appear twice: on their own lines and in the link.
  return kBlockOverhead + length_of(file.mainline) + server.ip_address.size() +
         2 * (length_of(file.branch) + length_of(file.repository) + length_of(file.file));
}

void append_fix_header(std::string& text, const char* fix_comment) {
  text += "Fix Comment: ";
  text += text_or_empty(fix_comment);
  text += "\n\n";
}

void append_file_block(std::string& text, const AttachedFile& file,
                       const VelloranServer& server) {
  const char* branch = text_or_empty(file.branch);
  const char* repository = text_or_empty(file.repository);
  const char* name = text_or_empty(file.file);
  text += "Velloran Attachment\nMainline: ";
  text += text_or_empty(file.mainline);
  text += "\nBranch: ";
  text += branch;
  text += "\nRepository: ";
  text += repository;
  text += "\nFile: ";
  text += name;
  text += "\nVersion: ";
  text += std::to_string(file.version);
  text += "\nkova://";
  text += server.ip_address;
  text += ':';
  text += std::to_string(server.port);
  text += "//";
  text += branch;
  text += "//";
  text += repository;
  text += '/';
  text += name;
  text += "\n\n";
}

std::vector<CommentSpan> plan_comments(bool with_fix_header, size_t header_estimate,
                                       const std::vector<size_t>& block_estimates) {
  std::vector<CommentSpan> comments;
  size_t next = 0;
  do {
    CommentSpan comment;
    comment.fix_header = with_fix_header && comments.empty();
    comment.first_file = next;
    size_t estimate = comment.fix_header ? header_estimate : 0;
    while (next < block_estimates.size()) {
      const bool otherwise_empty = !comment.fix_header && comment.file_count == 0;
      const size_t block = block_estimates[next];
      // Written so that neither side can overflow, even for an oversized header.
      const bool fits = estimate <= kCommentLimit && block <= kCommentLimit - estimate;
      if (!fits && !otherwise_empty) break;
      estimate += block;
      ++comment.file_count;
      ++next;
    }
    comments.push_back(comment);
  } while (next < block_estimates.size());
  return comments;
}

}  // namespace bugzilla
