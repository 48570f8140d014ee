#include "common/PropertyListDepth.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace sc820 {

namespace {

// ---------------------------------------------------------------------------------------------
// XML

// The position after `terminator` found from `from`, or nothing when it never comes.
std::optional<size_t> After(std::string_view text, size_t from, std::string_view terminator) {
    size_t at = text.find(terminator, from);
    if (at == std::string_view::npos) return std::nullopt;
    return at + terminator.size();
}

// The position of the '>' that ends the tag starting at `from`, skipping quoted attribute
// values, or nothing when the tag never ends.
std::optional<size_t> TagEnd(std::string_view text, size_t from) {
    char quote = 0;
    for (size_t i = from; i < text.size(); ++i) {
        char c = text[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i;
        }
    }
    return std::nullopt;
}

bool XmlWithinDepth(std::string_view text, size_t maxDepth) {
    size_t depth = 0;
    size_t at = 0;
    while ((at = text.find('<', at)) != std::string_view::npos) {
        std::string_view rest = text.substr(at);
        std::optional<size_t> next;
        if (rest.starts_with("<!--")) {
            next = After(text, at + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            next = After(text, at + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            next = After(text, at + 2, "?>");
        } else if (rest.starts_with("<!") || rest.starts_with("</")) {
            next = TagEnd(text, at + 2);
            if (next) ++*next;
            if (rest[1] == '/' && depth > 0) --depth;
        } else {
            next = TagEnd(text, at + 1);
            if (next && text[*next - 1] != '/' && ++depth > maxDepth) return false;
            if (next) ++*next;
        }
        if (!next) return false;
        at = *next;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Binary

class BinaryList {
public:
    explicit BinaryList(std::string_view bytes) : bytes_(bytes) {}

    // Reads the trailer and checks that the offset table lies inside the file.
    bool open() {
        constexpr size_t kHeader = 8;
        constexpr size_t kTrailer = 32;
        if (bytes_.size() < kHeader + kTrailer) return false;
        size_t trailer = bytes_.size() - kTrailer;
        offsetSize_ = Byte(trailer + 6);
        refSize_ = Byte(trailer + 7);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        objects_ = Number(trailer + 8, 8);
        root_ = Number(trailer + 16, 8);
        table_ = Number(trailer + 24, 8);
        if (objects_ == 0 || root_ >= objects_ || table_ < kHeader || table_ > trailer)
            return false;
        return objects_ <= (trailer - table_) / offsetSize_;
    }

    uint64_t objects() const { return objects_; }
    uint64_t root() const { return root_; }

    // The references an object holds: where they start and how many there are. False when the
    // object lies outside the file or its references do.
    bool references(uint64_t object, size_t* first, uint64_t* count) const {
        *count = 0;
        uint64_t offset = Number(table_ + object * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= table_) return false;
        uint8_t marker = Byte(offset);
        uint8_t type = marker >> 4;
        if (type != 0xA && type != 0xC && type != 0xD) return true;  // holds no references
        size_t at = offset + 1;
        uint64_t n = marker & 0x0F;
        if (n == 0x0F) {  // the count follows as an integer object
            if (at >= table_) return false;
            uint8_t intMarker = Byte(at);
            size_t width = size_t{1} << (intMarker & 0x0F);
            if ((intMarker >> 4) != 0x1 || width > 8 || at + 1 + width > table_) return false;
            n = Number(at + 1, width);
            at += 1 + width;
        }
        if (type == 0xD) {
            if (n > UINT64_MAX / 2) return false;
            n *= 2;  // the keys' references, then the values'
        }
        if (n > (table_ - at) / refSize_) return false;
        *first = at;
        *count = n;
        return true;
    }

    uint64_t reference(size_t first, uint64_t index) const {
        return Number(first + index * refSize_, refSize_);
    }

private:
    uint8_t Byte(size_t at) const { return static_cast<uint8_t>(bytes_[at]); }
    uint64_t Number(size_t at, size_t width) const {
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) value = value << 8 | Byte(at + i);
        return value;
    }

    std::string_view bytes_;
    size_t offsetSize_ = 0;
    size_t refSize_ = 0;
    uint64_t objects_ = 0;
    uint64_t root_ = 0;
    uint64_t table_ = 0;
};

// Walks the object graph from the root without recursion, working out each object's height
// (levels from it down) and how many objects the library makes of it: the library copies an
// object once per reference, so a few shared objects can stand for billions of copies. An
// object shared by several containers is walked once; a reference back to an object on the
// current path is a cycle.
bool BinaryWithinDepth(std::string_view bytes, size_t maxDepth) {
    BinaryList list(bytes);
    if (!list.open()) return false;
    struct Walked {
        bool onPath = false;
        bool done = false;
        uint32_t height = 0;
        uint64_t copies = 0;
    };
    std::vector<Walked> walked(list.objects());
    struct Frame {
        uint64_t object;
        size_t first;
        uint64_t count;
        uint64_t next;
        uint32_t height;  // the tallest child so far
        uint64_t copies;  // this object and its children's copies so far
        uint64_t reference(const BinaryList& from) { return from.reference(first, next++); }
    };
    std::vector<Frame> path;
    auto enter = [&](uint64_t object) {
        Frame frame{object, 0, 0, 0, 0, 1};
        if (!list.references(object, &frame.first, &frame.count)) return false;
        walked[object].onPath = true;
        path.push_back(frame);
        return path.size() <= maxDepth;
    };
    if (!enter(list.root())) return false;
    while (!path.empty()) {
        Frame& top = path.back();
        if (top.next == top.count) {
            Walked& done = walked[top.object];
            done = Walked{false, true, top.height + 1, top.copies};
            path.pop_back();
            if (path.empty()) return done.height <= maxDepth;
            Frame& parent = path.back();
            parent.height = std::max(parent.height, done.height);
            parent.copies += done.copies;
            if (path.size() + done.height > maxDepth || parent.copies > kMaxPropertyListObjects)
                return false;
            continue;
        }
        uint64_t child = top.reference(list);
        if (child >= list.objects() || walked[child].onPath) return false;
        if (!walked[child].done) {
            if (!enter(child)) return false;
            continue;
        }
        top.height = std::max(top.height, walked[child].height);
        top.copies += walked[child].copies;
        if (path.size() + walked[child].height > maxDepth || top.copies > kMaxPropertyListObjects)
            return false;
    }
    return true;
}

}  // namespace

bool PropertyListWithinDepth(std::string_view bytes, size_t maxDepth) {
    if (bytes.starts_with("bplist")) return BinaryWithinDepth(bytes, maxDepth);
    return XmlWithinDepth(bytes, maxDepth);
}

}  // namespace sc820
