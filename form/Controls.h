// Null-safe access to the form's controls. A per-target slot whose tag was not found at
// start-up stays null: setting it does nothing, and it reads as a button that is off and as a
// list at position 0.
#pragma once

#include "platform/window/AppKit.h"

inline void SetButtonState(NSButton* button, int state) {
    if (button != nullptr) button->setState(state);
}

inline bool ButtonIsOn(NSButton* button) {
    return button != nullptr && button->state() != 0;
}

inline void SelectPosition(NSPopUpButton* list, int position) {
    if (list != nullptr) list->selectItemAtIndex(position);
}

inline int SelectedPosition(NSPopUpButton* list) {
    return list != nullptr ? list->indexOfSelectedItem() : 0;
}

inline void SetText(NSTextField* field, const NSString& text) {
    if (field != nullptr) field->setStringValue(text);
}
