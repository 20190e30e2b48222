#pragma once

#include <cstddef>

// The framework's binary value-tree reader trusts the counts and sizes inside the data: a
// damaged chunk can make it reserve gigabytes, loop for billions of steps or recurse until the
// stack runs out. This walks the same format without allocating and accepts the data only when
// it is complete, every count fits in the bytes that remain and nesting stays shallow, so the
// reader can then be used safely. Anything the framework's writer cannot produce (negative
// counts, unnamed properties, invalid children, names that are not well-formed UTF-8) counts as
// damaged too.
bool isSafeValueTreeData (const void* data, std::size_t numBytes);
