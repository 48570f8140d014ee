// The Qt backend of the controls: one wrapper object per widget, made on first use and owned
// by the window layer until its widget is destroyed. A pop-up list is a QComboBox, an on/off
// button a QAbstractButton (check box or radio button), a text field a read-only QLineEdit;
// any other widget is a plain view, and a window (the main window or a dialog) is also an
// NSWindow.
#pragma once

#include <QWidget>
#include <optional>
#include <string>

#include "platform/window/AppKit.h"

// The view the utility sees for the widget; null for null.
NSView* NSViewForWidget(QWidget* widget);
// The window object of a window widget; null when the widget is not a window.
NSWindow* NSWindowForWidget(QWidget* widget);
// What an outlet naming the widget receives: the window object for a window, else its view.
NSObject* NSOutletObjectForWidget(QWidget* widget);
// The widget behind a wrapper made by this layer, or null.
QWidget* WidgetForObject(NSObject* object);

// The widget's dynamic property `tag`, or 0 when it has none.
long WidgetTag(const QWidget* widget);
// The first widget carrying the tag in `root` or beneath it, depth-first in child order.
// Separate windows (dialogs) beneath `root` are not part of it.
QWidget* WidgetWithTag(QWidget* root, long tag);

// The value a control shows, as text: the selected position of a list, the state of a
// button, the text of a field. Nothing for a widget that is none of these.
std::optional<std::string> ControlValueText(QWidget* widget);
