// The driver in-use check's comparison of a registry class name with the card driver's class.
#pragma once

#include "platform/foundation/Foundation.h"

// True when the name is exactly the card's SCSI driver class: the same length and the same
// characters in order, case-sensitive. A longer name (a suffix) or a shorter one never matches.
bool IsCardDriverClassName(const NSString& className);
