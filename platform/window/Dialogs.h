// The window's interactive alert and open panel, as QtBackend shows them.
#pragma once

#include <vector>

#include "platform/window/AppKit.h"

int RunAlertBox(const NSString& title, const NSString& message, const char* defaultButton,
                const char* alternateButton, const char* otherButton,
                const NSString& informativeText);
int RunOpenDialog(const NSString& directory, const NSString* file,
                  const std::vector<NSString>* types, NSString* chosen);
