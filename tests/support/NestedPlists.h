// Property lists that nest arrays within arrays, in both forms, for the readers' depth limit.
#pragma once

#include <cstdint>
#include <string>

namespace nested {

// <plist> holding `arrays` arrays one within the other: arrays + 1 nested elements.
inline std::string XmlArrays(size_t arrays) {
    std::string text = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">";
    for (size_t i = 0; i < arrays; ++i) text += "<array>";
    for (size_t i = 0; i < arrays; ++i) text += "</array>";
    return text + "</plist>\n";
}

// A binary list of `objects` arrays; array i holds `fanOut` references to array i + 1 and the
// last one is empty. fanOut 1 nests `objects` levels; fanOut 2 also doubles the copies a
// reader makes at each level. `cycle` makes the last array refer back to the first instead.
inline std::string BinaryArrays(size_t objects, int fanOut = 1, bool cycle = false) {
    auto be = [](uint64_t value, size_t width) {
        std::string bytes(width, '\0');
        for (size_t i = 0; i < width; ++i)
            bytes[width - 1 - i] = static_cast<char>(value >> (8 * i));
        return bytes;
    };
    std::string file = "bplist00";
    std::string offsets;
    for (size_t i = 0; i < objects; ++i) {
        offsets += be(file.size(), 4);
        if (i + 1 < objects) {
            file += static_cast<char>(0xA0 + fanOut);
            for (int r = 0; r < fanOut; ++r) file += be(i + 1, 4);
        } else if (cycle) {
            file += static_cast<char>(0xA1);
            file += be(0, 4);
        } else {
            file += static_cast<char>(0xA0);
        }
    }
    const uint64_t table = file.size();
    file += offsets;
    file += std::string(6, '\0') + static_cast<char>(4) + static_cast<char>(4);
    file += be(objects, 8) + be(0, 8) + be(table, 8);
    return file;
}

}  // namespace nested
