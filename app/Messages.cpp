// The message catalogue. Texts are looked up anew at every alert, so the string table of the
// moment decides what the user reads; the message is always handed over as it is, never as
// a format.
#include "app/Messages.h"

#include "platform/window/AppKit.h"

NSString LocalizedMessage(const char* key) {
    return NSBundle::mainBundle().localizedStringForKey(NSString(key), NSString(""), nullptr);
}

int ShowAlertWithMessage(const NSString& message, AlertButtons buttons,
                         const NSString& informativeText) {
    if (buttons == AlertButtons::cancelFirst)
        return NSRunAlertPanel(LocalizedMessage(MSG_APPNAME), message, "Cancel", nullptr, "OK",
                               informativeText);
    const char* alternate = buttons == AlertButtons::okCancel ? "Cancel" : nullptr;
    return NSRunAlertPanel(LocalizedMessage(MSG_APPNAME), message, "OK", alternate, nullptr,
                           informativeText);
}

int ShowAlert(const char* messageKey, AlertButtons buttons) {
    return ShowAlertWithMessage(LocalizedMessage(messageKey), buttons);
}

int ShowAlert(const char* messageKey, AlertButtons buttons, const NSString& informativeText) {
    return ShowAlertWithMessage(LocalizedMessage(messageKey), buttons, informativeText);
}

NSString ComposedPathMessage(const NSString& bundlePath) {
    NSString message = LocalizedMessage(MSG_PATHERROR);
    message.appendString(NSString("\r\r"));
    message.appendString(LocalizedMessage(MSG_CHECKPATH));
    message.appendString(bundlePath);
    return message;
}
