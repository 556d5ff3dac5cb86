// Fixed-point values and rectangle equality for the render tests' tables.
#pragma once

#include "host/types.h"

namespace qmtest {

constexpr Fixed F(double v)
{
    return static_cast<Fixed>(v * 65536.0);
}

} // namespace qmtest

// Global, beside the records, so gtest's comparisons find them.
inline bool operator==(const QdRect &a, const QdRect &b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

inline bool operator==(const FixedRect &a, const FixedRect &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
