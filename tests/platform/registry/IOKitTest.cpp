// The registry stand-in against an emulated host: searches, entries, connections and method
// calls, with the platform's status and ownership rules; no test leaves a handle held.
#include <gtest/gtest.h>

#include <cstring>

#include "driverif/CommandCodes.h"
#include "driverif/DriverNames.h"
#include "platform/registry/IOKit.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/TempHost.h"

namespace {

// Every handle a search hands out, released at the end.
struct Search {
    explicit Search(CFMutableDictionaryRef matching) {
        EXPECT_EQ(IOMasterPort(MACH_PORT_NULL, &port), KERN_SUCCESS);
        EXPECT_EQ(IOServiceGetMatchingServices(port, matching, &iterator), 0);
        while (io_object_t object = IOIteratorNext(iterator)) found.push_back(object);
    }
    ~Search() {
        for (io_object_t object : found) IOObjectRelease(object);
        if (iterator != 0) IOObjectRelease(iterator);
        mach_port_deallocate(mach_task_self(), port);
    }
    mach_port_t port = 0;
    io_iterator_t iterator = 0;
    std::vector<io_object_t> found;
};

std::string ClassOf(io_object_t object) {
    io_name_t name;
    std::memset(name, 'x', sizeof name);
    return IOObjectGetClass(object, name) == KERN_SUCCESS ? name : "(failed)";
}

class IOKitTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(IORegistryHandlesHeld(), 0u) << "a handle leaked"; }
    TempHost host;
};

// Handles that were never given out, were released already, or are of another kind get an
// error. (A failed search: CommandChannelFailureTest.)
TEST_F(IOKitTest, BadHandlesAndFailedSearchesGetAnErrorNotACrash) {
    Search search(IOServiceNameMatching("Root"));
    io_registry_entry_t parent = 0;
    io_connect_t connect = 0;
    char buffer[308] = {};
    mach_msg_type_number_t size = 308;
    for (uint32_t bad : {0u, 1u, 0xdeadbeefu, search.port, search.iterator}) {
        EXPECT_TRUE(ClassOf(bad) == "(failed)" &&
                    IORegistryEntryGetParentEntry(bad, kIOServicePlane, &parent) != 0 &&
                    IOServiceOpen(bad, mach_task_self(), 0, &connect) != 0 &&
                    IOServiceClose(bad) != 0 &&
                    io_connect_method_scalarI_structureI(bad, kSetEEPConfig, nullptr, 0, buffer,
                                                         308) != 0 &&
                    io_connect_method_scalarI_structureO(bad, kGetEEPConfig, nullptr, 0, buffer,
                                                         &size) != 0)
            << bad;
    }
    io_object_t object = search.found.at(0);
    EXPECT_EQ(IOIteratorNext(object), IO_OBJECT_NULL) << "an object is no iterator";
    EXPECT_NE(IOObjectGetClass(object, nullptr), KERN_SUCCESS);
    EXPECT_EQ(IOObjectRelease(object), KERN_SUCCESS);
    EXPECT_NE(IOObjectRelease(object), KERN_SUCCESS) << "released twice";
    EXPECT_EQ(ClassOf(object), "(failed)") << "used after release";
    search.found.clear();
}

}  // namespace
