// The Erase and Write buttons: erase the flash BIOS, and write an image file into the flash
// with read-back verification. The flash moves in sweeps of 17 chunks of 4000 bytes from its
// start; the driver keeps the chunk position, since no offset travels with a chunk.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "driverctl/Pause.h"
#include "driverif/CommandCodes.h"
#include "platform/foundation/CommonDigest.h"

namespace {

// An image this long or longer is preceded by an erase.
constexpr size_t kEraseThreshold = 4096;

constexpr const char kVersionErased[] = "0";
constexpr const char kVersionUpdated[] = "updated.";

// Hex digits of the image's SHA-256 shown before a Write: enough to tell two images apart.
constexpr size_t kDigestPrefixBytes = 8;

// The image file, or null with *reason set to the message key that says why it is refused. A
// sweep reads back 68,000 bytes and compares the rest of the image with zeros, so an image
// with a non-zero byte there could never verify: it is refused before the flash is erased.
std::optional<NSData> ReadImage(const NSString& path, const char** reason) {
    NSData::ReadStatus status = NSData::ReadStatus::ok;
    auto image = NSData::dataWithContentsOfRegularFile(path, kFlashBufferSize, &status);
    if (status == NSData::ReadStatus::tooLarge) {
        *reason = MSG_FILETOOLARGE;
    } else if (!image || status != NSData::ReadStatus::ok) {
        *reason = MSG_FILEUNREADABLE;
    } else if (image->length() == 0) {
        *reason = MSG_FILEEMPTY;
    } else if (std::any_of(image->bytes() + std::min<size_t>(image->length(), kFlashSweepSize),
                           image->bytes() + image->length(), [](uint8_t b) { return b != 0; })) {
        *reason = MSG_FILEUNVERIFIABLE;
    } else {
        return image;
    }
    return std::nullopt;
}

// What the last question before a Write says of the image: its path, size and digest prefix.
NSString DescribeImage(const NSString& path, const NSData& image) {
    unsigned char digest[CC_SHA256_DIGEST_LENGTH];
    CC_SHA256(image.bytes(), static_cast<CC_LONG>(image.length()), digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string prefix;
    for (size_t i = 0; i < kDigestPrefixBytes; ++i) {
        prefix += kHex[digest[i] >> 4];
        prefix += kHex[digest[i] & 0xF];
    }
    NSString text = path;
    text.appendString(NSString("\n" + std::to_string(image.length()) + " "));
    text.appendString(LocalizedMessage(MSG_BYTES));
    text.appendString(NSString(", SHA-256 " + prefix));
    return text;
}

}  // namespace

void SC820Controller::act_erase(id /*sender*/) {
    if (ShowAlert(MSG_ERASE, AlertButtons::okCancel) != 1) return;
    if (!keepFlashCopy()) return;
    if (doEraseFlash() != 0) {
        if (out_verSCSIBIOS != nullptr) out_verSCSIBIOS->setStringValue(kVersionErased);
    } else {
        ShowAlert(MSG_ERASEFAIL, AlertButtons::ok);
    }
    setConfigWindow();
}

void SC820Controller::act_write(id /*sender*/) {
    NSOpenPanel* panel = NSOpenPanel::openPanel();
    std::vector<uint8_t> writeData(kFlashBufferSize, 0);
    std::vector<uint8_t> readData(kFlashBufferSize, 0);

    if (ShowAlert(MSG_WRITE, AlertButtons::okCancel) != 1) return;
    if (panel->runModalForDirectory(NSHomeDirectory(), nullptr, nullptr) != NSOKButton) {
        setConfigWindow();
        return;
    }

    // The image must be a readable regular file of 1 to 69,536 bytes; it is checked on the open
    // file before anything is read, so a FIFO never blocks and a huge file is never loaded. It
    // is read before the last question, so that the bytes the question describes are the bytes
    // written, whatever happens to the file meanwhile.
    const char* reason = nullptr;
    const auto image = ReadImage(panel->filename(), &reason);
    if (!image) {
        ShowAlert(MSG_FILEERROR, AlertButtons::ok, LocalizedMessage(reason));
        return;
    }
    const size_t length = image->length();
    if (ShowAlert(MSG_WRITESTART, AlertButtons::okCancel,
                  DescribeImage(panel->filename(), *image)) != 1) {
        return;
    }
    if (!keepFlashCopy()) return;
    holdChannelFailures_ = true;

    // Programming over contents the card refused to erase could only corrupt the BIOS that is
    // there: nothing is written, and the flash and the version field stay as they are.
    if (length >= kEraseThreshold && doEraseFlash() == 0) {
        ShowAlert(MSG_ERASEFAIL, AlertButtons::ok);
        settleChannel();
        setConfigWindow();
        return;
    }
    std::memcpy(writeData.data(), image->bytes(), length);

    // A chunk the card refused counts as a failed write even if the flash happens to match.
    bool allAccepted = true;
    for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
        allAccepted &= doWriteFlash(writeData.data() + k * kFlashChunkSize) != 0;
    BusyPause(kFlashPauseCount);
    for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
        allAccepted &= doReadFlash(readData.data() + k * kFlashChunkSize) != 0;
    BusyPause(kFlashPauseCount);

    const bool verified =
        allAccepted && std::equal(image->bytes(), image->bytes() + length, readData.data());
    if (!verified) {
        eraseAfterFailedWrite();
        return;
    }
    settleChannel();
    if (out_verSCSIBIOS != nullptr) out_verSCSIBIOS->setStringValue(kVersionUpdated);
    ShowAlert(MSG_WRITESUCCESS, AlertButtons::ok);
    setConfigWindow();
}

// A write that did not verify leaves an image in the flash that must not be booted: the flash
// is erased again. The version field reads "0" only when the card accepted that erase; when it
// refused, the field is cleared, since the flash holds neither an erased nor a verified BIOS.
void SC820Controller::eraseAfterFailedWrite() {
    ShowAlert(MSG_WRITEFAIL, AlertButtons::ok);
    const bool erased = doEraseFlash() != 0;
    if (!erased) ShowAlert(MSG_WRITEERASEFAIL, AlertButtons::ok);
    settleChannel();
    setConfigWindow();
    if (out_verSCSIBIOS != nullptr) out_verSCSIBIOS->setStringValue(erased ? kVersionErased : "");
}
