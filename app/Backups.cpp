// Before the utility replaces anything on the card (the flash before Erase and Write, the
// record before a store) it reads what is there through the card's own commands and keeps a
// copy, so that a wrong image or a mis-click can be undone.
#include <string>
#include <vector>

#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "driverif/CommandCodes.h"
#include "platform/foundation/BackupCopies.h"

bool SC820Controller::readWholeFlash(std::vector<uint8_t>* flash) {
    flash->assign(kFlashBufferSize, 0xFF);
    bool allAccepted = true;
    for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
        allAccepted &= doReadFlash(flash->data() + k * kFlashChunkSize) != 0;
    flash->resize(kFlashSize);
    return allAccepted;
}

bool SC820Controller::keepFlashCopy() {
    std::vector<uint8_t> flash;
    const bool read = readWholeFlash(&flash);
    return keepCopy("flash", flash.data(), flash.size(), read);
}

bool SC820Controller::keepRecordCopy() {
    SCSIUTY_CFG held = {};
    const bool read = sendStructureOut(kGetEEPConfig, &held, sizeof held) != 0;
    return keepCopy("eeprom", reinterpret_cast<const uint8_t*>(&held), sizeof held, read);
}

bool SC820Controller::keepCopy(const char* kind, const uint8_t* bytes, size_t length,
                               bool readByCard) {
    std::string detail = "the card refused to read it";
    if (readByCard && KeepBackupCopy(kind, bytes, length, &detail) != BackupOutcome::failed) {
        return true;
    }
    NSLog("No %s copy kept in %s: %s", kind, BackupFolder().c_str(), detail.c_str());
    // Going on cannot be undone: Cancel is the default, and only OK goes on.
    return ShowAlert(MSG_NOBACKUP, AlertButtons::cancelFirst) == -1;
}
