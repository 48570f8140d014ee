// NSHomeDirectory: the home folder by the project's one rule (common/HomeFolder.h).
#include "common/HomeFolder.h"
#include "platform/foundation/Foundation.h"

NSString NSHomeDirectory() {
    return NSString(HomeFolder());
}
