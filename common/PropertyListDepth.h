// How deeply a property list nests, checked on its bytes before a property-list library parses
// it. The library reads nested arrays and dictionaries by recursion without a limit, so a file
// of a few megabytes of nested arrays would exhaust the stack; a list that nests deeper than any
// real one is refused instead and treated as unreadable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sc820 {

// Far deeper than any property list this system reads (an extension's personalities nest five
// levels) and far shallower than what would strain the stack.
inline constexpr size_t kMaxPropertyListDepth = 64;
// A binary list's objects may be shared by several containers; the library makes a copy per
// reference. More copies than this are no property list this system reads.
inline constexpr uint64_t kMaxPropertyListObjects = 1'000'000;

// Whether the bytes, an XML or a binary property list, nest at most `maxDepth` levels. XML
// counts elements within elements; a binary list counts containers within containers, following
// object references. False also for a binary list whose object table is malformed or whose
// references form a cycle, and for XML whose comment, CDATA section or tag never ends: the
// library could not read those either, and for a binary list whose shared objects would
// expand to more than kMaxPropertyListObjects objects.
bool PropertyListWithinDepth(std::string_view bytes, size_t maxDepth = kMaxPropertyListDepth);

}  // namespace sc820
