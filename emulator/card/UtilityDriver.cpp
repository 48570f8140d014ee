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

// Carries out a well-formed, permitted command; throws HostError when the card's files cannot
// be used. The output buffer is written only after everything it needs has been read.
void Execute(DriverState& state, const Sc820Card& card, UserClientCall& call) {
    uint32_t read = 0;
    uint32_t write = 0;
    switch (call.selector) {
        case kGetEEPConfig:
            Deliver(call, card.readEeprom());
            break;
        case kSetEEPConfig:
            card.storeEeprom(std::string(reinterpret_cast<char*>(call.structure), call.size));
            break;
        case kGetEEPDefault:
            Deliver(call, card.readFactory());
            break;
        case kEraseFlash:
            card.eraseFlash();
            break;
        case kReadFlash: {
            uint8_t chunk[kFlashChunkSize];
            card.readChunk(state.readCursor, chunk);
            std::memcpy(call.structure, chunk, sizeof chunk);
            call.produced = kFlashChunkSize;
            read = NextChunk(state.readCursor);
            break;
        }
        case kWriteFlash:
            card.writeChunk(state.writeCursor, call.structure);
            write = NextChunk(state.writeCursor);
            break;
        default:
            break;
    }
    state.readCursor = read;
    state.writeCursor = write;
}

// A command the driver does not carry out (refused, malformed, or failed on the card's files)
// still counts as a command: like any other, it puts both flash cursors back to the start.
void ResetCursors(DriverState& driver) {
    driver.readCursor = 0;
    driver.writeCursor = 0;
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
        try {
            Execute(driver, Sc820Card(session.paths()), call);
        } catch (const HostError&) {
            ResetCursors(driver);
            file.store(driver);  // the command was received: keep its count
            throw;
        }
    }
    if (status != kIOReturnSuccess) ResetCursors(driver);
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
