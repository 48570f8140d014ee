#include "emulator/card/UtilityDriver.h"

#include <cstring>

#include "driverif/CommandCodes.h"
#include "driverif/DriverNames.h"
#include "emulator/card/DriverState.h"
#include "emulator/card/Sc820Card.h"
#include "emulator/host/HostError.h"
#include "emulator/host/HostSession.h"
#include "emulator/kernel/KernelRegistry.h"

namespace emu {

namespace {

struct CommandShape {
    CallForm form;
    uint32_t size;
};

// Indexed by command code.
constexpr CommandShape kShapes[kDataAcquirerNumCommands] = {
    {CallForm::structureOutput, kRecordSize},      // kGetEEPConfig
    {CallForm::structureInput, kRecordSize},       // kSetEEPConfig
    {CallForm::structureOutput, kRecordSize},      // kGetEEPDefault
    {CallForm::structureInput, kEraseInputSize},   // kEraseFlash
    {CallForm::structureOutput, kFlashChunkSize},  // kReadFlash
    {CallForm::structureInput, kFlashChunkSize},   // kWriteFlash
};

bool WellFormed(const UserClientCall& call) {
    const CommandShape& shape = kShapes[call.selector];
    return call.form == shape.form && call.size == shape.size && call.scalarCount == 0 &&
           call.structure != nullptr;
}

void Deliver(UserClientCall& call, const std::string& record) {
    std::memcpy(call.structure, record.data(), record.size());
    call.produced = static_cast<uint32_t>(record.size());
}

uint32_t NextChunk(uint32_t chunk) {
    return (chunk + 1) % kFlashSweepChunks;
}

// The cursors after a command carried out: a sweep's own command moves its cursor on, every
// other command puts both back to the start.
DriverState Advanced(DriverState state, int selector) {
    state.readCursor = selector == kReadFlash ? NextChunk(state.readCursor) : 0;
    state.writeCursor = selector == kWriteFlash ? NextChunk(state.writeCursor) : 0;
    return state;
}

bool ChangesCard(int selector) {
    return selector == kSetEEPConfig || selector == kEraseFlash || selector == kWriteFlash;
}

// Reads what a reading command returns; throws HostError when the card's files cannot be
// used. The output buffer is written only after everything it needs has been read.
void Read(const DriverState& state, const Sc820Card& card, UserClientCall& call) {
    switch (call.selector) {
        case kGetEEPConfig:
            Deliver(call, card.readEeprom());
            break;
        case kGetEEPDefault:
            Deliver(call, card.readFactory());
            break;
        case kReadFlash: {
            uint8_t chunk[kFlashChunkSize];
            card.readChunk(state.readCursor, chunk);
            std::memcpy(call.structure, chunk, sizeof chunk);
            call.produced = kFlashChunkSize;
            break;
        }
        default:
            break;
    }
}

// Makes the change a changing command asks for; throws HostError when it cannot be made.
void Change(const DriverState& state, const Sc820Card& card, UserClientCall& call) {
    switch (call.selector) {
        case kSetEEPConfig:
            // Replaced is stored, on the disk or not yet: the card holds the new record.
            (void)card.storeEeprom(std::string(reinterpret_cast<char*>(call.structure), call.size));
            break;
        case kEraseFlash:
            card.eraseFlash();
            break;
        case kWriteFlash:
            card.writeChunk(state.writeCursor, call.structure);
            break;
        default:
            break;
    }
}

// A command the driver does not carry out (refused, malformed, or failed on the card's files)
// still counts as a command: like any other, it puts both flash cursors back to the start.
void ResetCursors(DriverState& driver) {
    driver.readCursor = 0;
    driver.writeCursor = 0;
}

// Carries out a well-formed, permitted command. A change to the card is made last, after the
// driver's state is saved: once the card has changed, nothing is left that could fail and make
// the command look refused.
void Execute(DriverStateFile& file, DriverState& driver, const Sc820Card& card,
             UserClientCall& call) {
    const bool changes = ChangesCard(call.selector);
    if (changes) file.store(Advanced(driver, call.selector));
    try {
        if (changes) {
            Change(driver, card, call);
            return;
        }
        Read(driver, card, call);
    } catch (const HostError&) {
        ResetCursors(driver);
        try {
            file.store(driver);  // the command was received: keep its count
        } catch (const HostError&) {
            // The failure to report is the card's.
        }
        throw;
    }
    file.store(Advanced(driver, call.selector));
}

IOReturn Dispatch(HostSession& session, uint32_t service, UserClientCall& call) {
    const RegistryEntry* entry = KernelRegistry(session.current()).find(service);
    if (entry == nullptr || entry->className != kUtilityDriverClass) return kIOReturnNotAttached;
    DriverStateFile file(session.paths());
    DriverState driver = file.load();
    driver.lastService = service;
    const bool known = call.selector >= 0 && call.selector < kDataAcquirerNumCommands;
    // Every command the driver receives is counted, refused ones too.
    if (known) ++driver.commands[static_cast<size_t>(call.selector)];
    IOReturn status = kIOReturnSuccess;
    if (!known || !WellFormed(call)) {
        status = kIOReturnBadArgument;
    } else if (session.current().faultOn(RefuseFault(call.selector))) {
        status = kIOReturnNotPermitted;
    } else {
        Execute(file, driver, Sc820Card(session.paths()), call);
        return kIOReturnSuccess;
    }
    ResetCursors(driver);
    file.store(driver);
    return status;
}

}  // namespace

IOReturn CallUtilityDriver(const std::string& root, uint32_t service, UserClientCall& call,
                           std::string* problem) {
    try {
        HostSession session(root);
        return Dispatch(session, service, call);
    } catch (const HostError& error) {
        if (problem != nullptr) *problem = error.what();
        return kIOReturnError;
    }
}

}  // namespace emu
