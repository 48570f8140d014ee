// The driver swap: the card's normal SCSI driver is unloaded and the kernel extension carried
// in the utility's bundle is loaded, both with administrator rights.
#include <string>

#include "app/SC820Controller.h"
#include "driverif/DriverNames.h"

namespace {

constexpr const char kUnloadTool[] = "/sbin/kextunload";
constexpr const char kLoadTool[] = "/sbin/kextload";

// The tools take the platform's mutable argument vector but never write into it.
char* const kUnloadArguments[] = {const_cast<char*>("-m"), const_cast<char*>(kSC820DriverBundleID),
                                  nullptr};

}  // namespace

// Neither result is examined: when the swap fails, opening the utility driver afterwards
// reports it.
void SC820Controller::swapDrivers() {
    authLog(kUnloadTool, kUnloadArguments);

    // The extension is found where the bundle is now, so a moved bundle loads its own copy.
    NSString kextPath = NSString::stringWithString(NSString(""));
    kextPath.appendString(NSBundle::mainBundle().bundlePath());
    kextPath.appendString(NSString(kUtilityKextSubpath));
    // The path's bytes live in this frame until the tool has been run and read to the end.
    std::string kextPathBytes = kextPath.UTF8String();
    char emptyArgument[] = "";
    char* loadArguments[2] = {emptyArgument, emptyArgument};
    loadArguments[0] = kextPathBytes.data();
    loadArguments[1] = nullptr;
    authLog(kLoadTool, loadArguments);
}
