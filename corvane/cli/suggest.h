// "Did you mean" for names the user mistyped: subcommands, options and the
// keys of project files all go through here.
#pragma once

#include <string>
#include <vector>

namespace quillomark {

// Edits (insertions, deletions, substitutions, swaps of neighbours) that
// turn `a` into `b`, ignoring case.
size_t editDistance(const std::string &a, const std::string &b);

// The candidate nearest to `word` when it is near enough to be a slip of the
// keyboard, or empty. Ties go to the earlier candidate.
std::string nearest(const std::string &word, const std::vector<std::string> &candidates);

// "; did you mean \"X\"?" for the nearest candidate, or empty.
std::string didYouMean(const std::string &word, const std::vector<std::string> &candidates);

} // namespace quillomark
