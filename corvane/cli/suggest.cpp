#include "suggest.h"

#include <algorithm>
#include <cctype>

namespace quillomark {

size_t editDistance(const std::string &a, const std::string &b)
{
    auto same = [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    };
    // Three rows of the table: a swap looks two rows back.
    std::vector<size_t> older(b.size() + 1), prev(b.size() + 1), row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        prev[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            row[j] = std::min({prev[j] + 1, row[j - 1] + 1, prev[j - 1] + (same(a[i - 1], b[j - 1]) ? 0 : 1)});
            if (i > 1 && j > 1 && same(a[i - 1], b[j - 2]) && same(a[i - 2], b[j - 1]))
                row[j] = std::min(row[j], older[j - 2] + 1);
        }
        std::swap(older, prev);
        std::swap(prev, row);
    }
    return prev[b.size()];
}

std::string nearest(const std::string &word, const std::vector<std::string> &candidates)
{
    // One slip in a short word, about one in three in a longer one: beyond
    // that a suggestion is a guess.
    const size_t limit = std::max<size_t>(1, word.size() / 3);
    std::string best;
    size_t bestDistance = limit + 1;
    for (const auto &c : candidates) {
        const size_t d = editDistance(word, c);
        if (d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    return best;
}

std::string didYouMean(const std::string &word, const std::vector<std::string> &candidates)
{
    const std::string best = nearest(word, candidates);
    return best.empty() ? std::string() : "; did you mean \"" + best + "\"?";
}

} // namespace quillomark
