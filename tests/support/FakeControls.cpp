#include "tests/support/FakeControls.h"

NSView* FakeView::viewWithTag(long tag) {
    if (tag == tag_) return this;
    for (auto& child : children_) {
        if (NSView* found = child->viewWithTag(tag)) return found;
    }
    return nullptr;
}
