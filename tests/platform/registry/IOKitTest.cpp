// The registry stand-in: searches, entries, connections and method calls against an emulated
// host, with the platform's status and ownership rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "card/CommandCodes.h"
#include "card/DriverNames.h"
#include "platform/registry/IOKit.h"
#include "tests/emulator/EmulatedHost.h"
#include "tests/support/TempHost.h"

namespace {

// Every handle a search hands out, released at the end.
class Search {
public:
    Search(CFMutableDictionaryRef matching) {
        EXPECT_EQ(IOMasterPort(MACH_PORT_NULL, &port), KERN_SUCCESS);
        status = IOServiceGetMatchingServices(port, matching, &iterator);
        while (io_object_t object = IOIteratorNext(iterator)) found.push_back(object);
    }
    ~Search() {
        for (io_object_t object : found) IOObjectRelease(object);
        if (iterator != 0) IOObjectRelease(iterator);
        mach_port_deallocate(mach_task_self(), port);
    }
    std::string className(size_t i) const {
        io_name_t name;
        EXPECT_EQ(IOObjectGetClass(found.at(i), name), KERN_SUCCESS);
        return name;
    }
    mach_port_t port = 0;
    io_iterator_t iterator = 0;
    kern_return_t status = -1;
    std::vector<io_object_t> found;
};

std::string ParentClass(io_object_t object) {
    io_registry_entry_t parent = 0;
    EXPECT_EQ(IORegistryEntryGetParentEntry(object, kIOServicePlane, &parent), KERN_SUCCESS);
    io_name_t name = "";
    IOObjectGetClass(parent, name);
    IOObjectRelease(parent);
    return name;
}

class IOKitTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(IORegistryHandlesHeld(), 0u) << "a handle leaked"; }
    TempHost host;
    TempDir scratch;
};

TEST_F(IOKitTest, ClassMatchingFindsEachUtilityServiceUnderTheCard) {
    {
        Search none(IOServiceMatching(kUtilityDriverClass));
        EXPECT_EQ(none.status, KERN_SUCCESS);
        EXPECT_TRUE(none.found.empty());
    }
    testhost::SwapInUtilityDriver(host, scratch.path());
    host.hostOk({"fault", "duplicate-service", "on"});
    Search search(IOServiceMatching(kUtilityDriverClass));
    ASSERT_EQ(search.found.size(), 2u);
    EXPECT_NE(search.found[0], search.found[1]);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(search.className(i), kUtilityDriverClass);
        EXPECT_EQ(ParentClass(search.found[i]), "HostPCIDevice");
    }
    EXPECT_EQ(IOIteratorNext(search.iterator), IO_OBJECT_NULL) << "an ended iterator stays ended";
}

TEST_F(IOKitTest, NameMatchingFindsTheDevicesAndTheirControllers) {
    host.hostOk({"attach", "5"});
    host.hostOk({"attach", "1"});
    Search search(IOServiceNameMatching("IOSCSIParallelDevice"));
    ASSERT_EQ(search.found.size(), 3u);
    std::vector<std::string> parents;
    for (io_object_t device : search.found) parents.push_back(ParentClass(device));
    EXPECT_EQ(parents, (std::vector<std::string>{"GenericSCSIController", kSC820DriverClass,
                                                 kSC820DriverClass}));
    Search byClassName(IOServiceNameMatching(kSC820DriverClass));
    EXPECT_EQ(byClassName.found.size(), 1u);
    Search nothing(IOServiceNameMatching("ZolSC820 "));
    EXPECT_TRUE(nothing.found.empty());
}

TEST_F(IOKitTest, TheRegistryRootHasNoParent) {
    Search search(IOServiceNameMatching("Root"));
    ASSERT_EQ(search.found.size(), 1u);
    io_registry_entry_t parent = 99;
    EXPECT_NE(IORegistryEntryGetParentEntry(search.found[0], kIOServicePlane, &parent),
              KERN_SUCCESS);
    EXPECT_EQ(parent, IO_OBJECT_NULL);
    EXPECT_NE(IORegistryEntryGetParentEntry(search.found[0], "IODeviceTree", &parent),
              KERN_SUCCESS);
}

TEST_F(IOKitTest, ClassNamesAreCutToTheBufferAndTerminated) {
    std::string longName(200, 'L');
    std::string kext =
        testhost::WriteKext(scratch.path(), "Long.kext", "com.example.long", "1", {longName});
    ASSERT_EQ(testhost::RunTool(host, "kextload", {kext}), 0);
    Search search(IOServiceMatching(longName.c_str()));
    ASSERT_EQ(search.found.size(), 1u);
    io_name_t name;
    std::memset(name, 'x', sizeof name);
    ASSERT_EQ(IOObjectGetClass(search.found[0], name), KERN_SUCCESS);
    EXPECT_EQ(std::string(name), std::string(127, 'L'));
}

TEST_F(IOKitTest, AConnectionCarriesCommandsToTheUtilityDriver) {
    testhost::SwapInUtilityDriver(host, scratch.path());
    Search search(IOServiceMatching(kUtilityDriverClass));
    ASSERT_EQ(search.found.size(), 1u);
    io_connect_t connect = 0;
    ASSERT_EQ(IOServiceOpen(search.found[0], mach_task_self(), 0, &connect), KERN_SUCCESS);
    std::string record = testhost::PatternRecord(3);
    EXPECT_EQ(io_connect_method_scalarI_structureI(connect, kSetEEPConfig, nullptr, 0,
                                                   record.data(), 308),
              KERN_SUCCESS);
    std::vector<char> back(400, 0);
    mach_msg_type_number_t size = 308;
    EXPECT_EQ(io_connect_method_scalarI_structureO(connect, kGetEEPConfig, nullptr, 0, back.data(),
                                                   &size),
              KERN_SUCCESS);
    EXPECT_EQ(size, 308u);
    EXPECT_EQ(std::string(back.data(), 308), record);
    size = 4000;
    EXPECT_EQ(io_connect_method_scalarI_structureO(connect, kGetEEPConfig, nullptr, 0, back.data(),
                                                   &size),
              kIOReturnBadArgument);
    EXPECT_EQ(size, 4000u) << "a failed call reports no size";
    EXPECT_EQ(IOServiceClose(connect), KERN_SUCCESS);
    EXPECT_EQ(IOServiceClose(connect), kIOReturnBadArgument) << "closed twice";
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{2, 1, 0, 0, 0, 0}));
}

struct OpenCase {
    const char* name;
    const char* matching;
    std::vector<std::string> fault;
    mach_port_t task;
    uint32_t type;
    kern_return_t expected;
};

TEST_F(IOKitTest, OpeningChecksTheServiceTaskTypeAndFault) {
    testhost::SwapInUtilityDriver(host, scratch.path());
    const std::vector<OpenCase> cases = {
        {"utility", kUtilityDriverClass, {}, mach_task_self(), 0, KERN_SUCCESS},
        {"other class", "HostPCIDevice", {}, mach_task_self(), 0, kIOReturnUnsupported},
        {"other task", kUtilityDriverClass, {}, 77, 0, kIOReturnBadArgument},
        {"other type", kUtilityDriverClass, {}, mach_task_self(), 1, kIOReturnBadArgument},
        {"fault",
         kUtilityDriverClass,
         {"fault", "open", "on"},
         mach_task_self(),
         0,
         kIOReturnNotPrivileged},
    };
    for (const auto& c : cases) {
        if (!c.fault.empty()) host.hostOk(c.fault);
        Search search(IOServiceMatching(c.matching));
        ASSERT_FALSE(search.found.empty()) << c.name;
        io_connect_t connect = 123;
        EXPECT_EQ(IOServiceOpen(search.found[0], c.task, c.type, &connect), c.expected) << c.name;
        if (c.expected == KERN_SUCCESS) {
            EXPECT_NE(connect, 0u);
            IOServiceClose(connect);
        } else {
            EXPECT_EQ(connect, 0u) << c.name;
        }
    }
}

TEST_F(IOKitTest, AServiceThatGoesAwayRefusesCallsAndOpens) {
    testhost::SwapInUtilityDriver(host, scratch.path());
    Search search(IOServiceMatching(kUtilityDriverClass));
    ASSERT_EQ(search.found.size(), 1u);
    io_connect_t connect = 0;
    ASSERT_EQ(IOServiceOpen(search.found[0], mach_task_self(), 0, &connect), KERN_SUCCESS);
    ASSERT_EQ(testhost::RunTool(host, "kextunload", {"-m", testhost::kUtilityKextID}), 0);
    char placeholder[2] = {0, 0};
    EXPECT_EQ(
        io_connect_method_scalarI_structureI(connect, kEraseFlash, nullptr, 0, placeholder, 2),
        kIOReturnNotAttached);
    io_connect_t again = 0;
    EXPECT_EQ(IOServiceOpen(search.found[0], mach_task_self(), 0, &again), kIOReturnNotAttached);
    EXPECT_EQ(IOServiceClose(connect), KERN_SUCCESS);
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ReadFileBytes(host.root() + "/var/db/sc820/flash.bin").substr(0, 2), "\x55\xAA");
}

TEST_F(IOKitTest, FaultsFailTheirStepAndTheSearchStillConsumesItsDictionary) {
    host.hostOk({"fault", "matching", "on"});
    EXPECT_EQ(IOServiceMatching(kUtilityDriverClass), nullptr);
    EXPECT_EQ(IOServiceNameMatching("IOSCSIParallelDevice"), nullptr);
    host.hostOk({"fault", "matching", "off"});

    host.hostOk({"fault", "search", "on"});
    mach_port_t port = 0;
    ASSERT_EQ(IOMasterPort(MACH_PORT_NULL, &port), KERN_SUCCESS);
    io_iterator_t iterator = 5;
    EXPECT_NE(IOServiceGetMatchingServices(port, IOServiceMatching(kUtilityDriverClass), &iterator),
              KERN_SUCCESS);
    EXPECT_EQ(iterator, IO_OBJECT_NULL);
    EXPECT_EQ(IORegistryHandlesHeld(), 1u) << "only the master port is left";
    EXPECT_NE(IOServiceGetMatchingServices(port + 4000, IOServiceMatching(kUtilityDriverClass),
                                           &iterator),
              KERN_SUCCESS);
    EXPECT_EQ(IORegistryHandlesHeld(), 1u)
        << "a search with a bad port still consumes the dictionary";
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), port), KERN_SUCCESS);

    host.hostOk({"fault", "master-port", "on"});
    port = 9;
    EXPECT_NE(IOMasterPort(MACH_PORT_NULL, &port), KERN_SUCCESS);
    EXPECT_EQ(port, MACH_PORT_NULL);
}

TEST_F(IOKitTest, WithoutAHostTheMasterPortFails) {
    setenv("SC820_HOST_ROOT", (scratch.path() + "/none").c_str(), 1);
    mach_port_t port = 9;
    EXPECT_EQ(IOMasterPort(MACH_PORT_NULL, &port), KERN_FAILURE);
    EXPECT_EQ(port, MACH_PORT_NULL);
}

TEST_F(IOKitTest, TheMasterPortStaysBoundToItsHost) {
    testhost::SwapInUtilityDriver(host, scratch.path());
    mach_port_t port = 0;
    ASSERT_EQ(IOMasterPort(MACH_PORT_NULL, &port), KERN_SUCCESS);
    {
        TempHost other;  // now SC820_HOST_ROOT; it has no utility service
        io_iterator_t iterator = 0;
        ASSERT_EQ(
            IOServiceGetMatchingServices(port, IOServiceMatching(kUtilityDriverClass), &iterator),
            KERN_SUCCESS);
        io_object_t service = IOIteratorNext(iterator);
        EXPECT_NE(service, IO_OBJECT_NULL);
        IOObjectRelease(service);
        IOObjectRelease(iterator);
    }
    mach_port_deallocate(mach_task_self(), port);
}

// Handles that were never given out, were released already, or are of another kind.
TEST_F(IOKitTest, BadHandlesGetAnErrorNotACrash) {
    mach_port_t port = 0;
    ASSERT_EQ(IOMasterPort(MACH_PORT_NULL, &port), KERN_SUCCESS);
    io_iterator_t iterator = 0;
    ASSERT_EQ(IOServiceGetMatchingServices(port, IOServiceNameMatching("Root"), &iterator),
              KERN_SUCCESS);
    io_object_t object = IOIteratorNext(iterator);
    ASSERT_NE(object, IO_OBJECT_NULL);
    EXPECT_EQ(IOIteratorNext(IO_OBJECT_NULL), IO_OBJECT_NULL);

    io_name_t name;
    io_registry_entry_t parent = 0;
    io_connect_t connect = 0;
    char buffer[308] = {};
    mach_msg_type_number_t size = 308;
    for (uint32_t bad : {0u, 1u, 0xdeadbeefu, port, iterator}) {
        EXPECT_NE(IOObjectGetClass(bad, name), KERN_SUCCESS) << bad;
        EXPECT_NE(IORegistryEntryGetParentEntry(bad, kIOServicePlane, &parent), KERN_SUCCESS)
            << bad;
        EXPECT_NE(IOServiceOpen(bad, mach_task_self(), 0, &connect), KERN_SUCCESS) << bad;
        EXPECT_NE(IOServiceClose(bad), KERN_SUCCESS) << bad;
        EXPECT_NE(io_connect_method_scalarI_structureI(bad, kSetEEPConfig, nullptr, 0, buffer, 308),
                  KERN_SUCCESS);
        EXPECT_NE(
            io_connect_method_scalarI_structureO(bad, kGetEEPConfig, nullptr, 0, buffer, &size),
            KERN_SUCCESS);
    }
    EXPECT_EQ(IOIteratorNext(object), IO_OBJECT_NULL) << "an object is no iterator";
    EXPECT_NE(mach_port_deallocate(mach_task_self(), iterator), KERN_SUCCESS);
    EXPECT_NE(mach_port_deallocate(77, port), KERN_SUCCESS);
    EXPECT_NE(IOObjectRelease(port), KERN_SUCCESS);
    EXPECT_NE(IOObjectGetClass(object, nullptr), KERN_SUCCESS);
    io_iterator_t unused = 0;
    EXPECT_NE(IOServiceGetMatchingServices(port, nullptr, &unused), KERN_SUCCESS);

    EXPECT_EQ(IOObjectRelease(object), KERN_SUCCESS);
    EXPECT_NE(IOObjectRelease(object), KERN_SUCCESS) << "released twice";
    EXPECT_NE(IOObjectGetClass(object, name), KERN_SUCCESS) << "used after release";
    EXPECT_EQ(IOObjectRelease(iterator), KERN_SUCCESS);
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), port), KERN_SUCCESS);
    EXPECT_NE(mach_port_deallocate(mach_task_self(), port), KERN_SUCCESS) << "deallocated twice";
}

}  // namespace
