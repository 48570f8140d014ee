// The message catalogue: every message the utility shows is a modal alert whose title and text
// come from the bundle's string table, looked up anew at each alert.
#pragma once

#include "platform/foundation/Foundation.h"

inline constexpr const char MSG_APPNAME[] = "MSG_APPNAME";
inline constexpr const char MSG_WARN[] = "MSG_WARN";
inline constexpr const char MSG_PATHERROR[] = "MSG_PATHERROR";
inline constexpr const char MSG_CHECKPATH[] = "MSG_CHECKPATH";
inline constexpr const char MSG_START[] = "MSG_START";
inline constexpr const char MSG_SLOTERROR[] = "MSG_SLOTERROR";
inline constexpr const char MSG_INITIALIZE[] = "MSG_INITIALIZE";
inline constexpr const char MSG_ERASE[] = "MSG_ERASE";
inline constexpr const char MSG_WRITE[] = "MSG_WRITE";
inline constexpr const char MSG_WRITESTART[] = "MSG_WRITESTART";
inline constexpr const char MSG_WRITEFAIL[] = "MSG_WRITEFAIL";
inline constexpr const char MSG_WRITESUCCESS[] = "MSG_WRITESUCCESS";
inline constexpr const char MSG_SUCCESS[] = "MSG_SUCCESS";
// Failures of reading, storing, restoring the defaults, erasing and opening a file: each is told
// to the user rather than passed over as if the step had succeeded.
inline constexpr const char MSG_READFAIL[] = "MSG_READFAIL";
inline constexpr const char MSG_STOREFAIL[] = "MSG_STOREFAIL";
inline constexpr const char MSG_DEFAULTFAIL[] = "MSG_DEFAULTFAIL";
inline constexpr const char MSG_ERASEFAIL[] = "MSG_ERASEFAIL";
inline constexpr const char MSG_FILEERROR[] = "MSG_FILEERROR";
// A write that did not verify, and the card then refused to erase the flash.
inline constexpr const char MSG_WRITEERASEFAIL[] = "MSG_WRITEERASEFAIL";
// No copy of what a change replaces could be kept: go on without one?
inline constexpr const char MSG_NOBACKUP[] = "MSG_NOBACKUP";
// Informative texts beneath a message: how to set up a host that may be missing, why a file was
// refused, and the unit of the chosen image's size.
inline constexpr const char MSG_HOSTINIT[] = "MSG_HOSTINIT";
inline constexpr const char MSG_FILEUNREADABLE[] = "MSG_FILEUNREADABLE";
inline constexpr const char MSG_FILEEMPTY[] = "MSG_FILEEMPTY";
inline constexpr const char MSG_FILETOOLARGE[] = "MSG_FILETOOLARGE";
inline constexpr const char MSG_FILEUNVERIFIABLE[] = "MSG_FILEUNVERIFIABLE";
inline constexpr const char MSG_BYTES[] = "MSG_BYTES";

// The text of a message key in the user's language; a missing text comes back as the key.
NSString LocalizedMessage(const char* key);

// cancelFirst: "Cancel" is the default button (and the answer to Escape), "OK" the other one.
enum class AlertButtons { ok, okCancel, cancelFirst };

// Shows the alert for a message key: title from MSG_APPNAME, the key's text as the message,
// "OK" and, for the confirmations, "Cancel". Returns the answer: 1 for OK, 0 for Cancel; with
// cancelFirst, 1 for Cancel and -1 for OK.
int ShowAlert(const char* messageKey, AlertButtons buttons);
// The same with an informative text beneath the message.
int ShowAlert(const char* messageKey, AlertButtons buttons, const NSString& informativeText);
// The same with a message composed by the caller; the text is shown as it is.
int ShowAlertWithMessage(const NSString& message, AlertButtons buttons,
                         const NSString& informativeText = NSString());
// The composed path message: MSG_PATHERROR, two carriage returns, MSG_CHECKPATH, bundle path.
NSString ComposedPathMessage(const NSString& bundlePath);
