#include "platform/window/batch/MemoryControls.h"

namespace {

constexpr int kTargets = 16;
// Items of the window's lists: host SCSI IDs, reset times, sense delays, transfer rates.
constexpr int kIdItems = 16;
constexpr int kResetItems = 8;
constexpr int kDelayItems = 8;
constexpr int kRateItems = 11;

}  // namespace

NSView* MemoryView::viewWithTag(long t) {
    if (t == tag) return this;
    for (NSView* view : subviews) {
        if (NSView* found = view->viewWithTag(t)) return found;
    }
    return nullptr;
}

MemoryWindow::MemoryWindow() {
    auto addList = [this](const char* name, int items) {
        auto list = std::make_unique<MemoryPopUp>(items);
        list->superview_ = &container_;
        container_.subviews.push_back(list.get());
        named_[name] = std::move(list);
    };
    addList("out_hostSCSIID", kIdItems);
    addList("out_resetRecoveringTime", kResetItems);
    addList("out_requestSenseDelay", kDelayItems);
    for (const char* name :
         {"out_burstTransfer_E", "out_burstTransfer_D", "out_parity_E", "out_parity_D",
          "out_SCSITerminators_0", "out_SCSITerminators_1", "out_SCSITerminators_2",
          "out_SCSITerminators_3", "out_erase", "out_write"}) {
        auto button = std::make_unique<MemoryButton>();
        button->superview_ = &container_;
        named_[name] = std::move(button);
    }
    for (const char* name : {"out_verSCSIConfigration", "out_verConfigurateionDriver",
                             "out_verSCSIBIOS", "out_verPCB"}) {
        auto field = std::make_unique<MemoryTextField>();
        field->superview_ = &container_;
        named_[name] = std::move(field);
    }
    for (int i = 0; i < kTargets; ++i) {
        auto rate = std::make_unique<MemoryPopUp>(kRateItems);
        rate->tag = 100 + i;
        rate->superview_ = &container_;
        container_.subviews.push_back(rate.get());
        tagged_[rate->tag] = std::move(rate);
        for (long base : {200L, 300L, 400L}) {
            auto box = std::make_unique<MemoryButton>();
            box->tag = base + i;
            box->superview_ = &container_;
            container_.subviews.push_back(box.get());
            tagged_[box->tag] = std::move(box);
        }
    }
}

NSObject* MemoryWindow::outlet(const std::string& name) const {
    if (name == "out_window") return const_cast<NSWindow*>(&window_);
    const auto found = named_.find(name);
    return found != named_.end() ? found->second.get() : nullptr;
}

MemoryPopUp* MemoryWindow::list(const std::string& name) const {
    return dynamic_cast<MemoryPopUp*>(outlet(name));
}

MemoryButton* MemoryWindow::button(const std::string& name) const {
    return dynamic_cast<MemoryButton*>(outlet(name));
}

MemoryTextField* MemoryWindow::field(const std::string& name) const {
    return dynamic_cast<MemoryTextField*>(outlet(name));
}

MemoryPopUp* MemoryWindow::listWithTag(long tag) const {
    const auto found = tagged_.find(tag);
    return found != tagged_.end() ? dynamic_cast<MemoryPopUp*>(found->second.get()) : nullptr;
}

MemoryButton* MemoryWindow::buttonWithTag(long tag) const {
    const auto found = tagged_.find(tag);
    return found != tagged_.end() ? dynamic_cast<MemoryButton*>(found->second.get()) : nullptr;
}
