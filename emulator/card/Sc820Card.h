// The SC820 card's storage: the EEPROM configuration record, the factory record and the 64 KiB
// flash that holds the SCSI BIOS. Records are 308-byte images in host byte order, replaced
// atomically; flash chunks are written in place, as the hardware programs them.
#pragma once

#include <cstdint>
#include <string>

#include "driverif/CommandCodes.h"
#include "driverif/def.h"
#include "emulator/host/HostFiles.h"

namespace emu {

inline constexpr size_t kRecordSize = sizeof(SCSIUTY_CFG);
inline constexpr uint8_t kErasedByte = 0xFF;

class Sc820Card {
public:
    explicit Sc820Card(const HostPaths& paths) : paths_(paths) {}

    // Whole records; a file of the wrong size throws HostError ("... is corrupt"). A record is
    // read from its file again only when the file is another version than the one last read.
    std::string readEeprom() const;
    std::string readFactory() const;
    // The stores return ReplaceFile's answer: false when the record is replaced but perhaps
    // not on the disk yet.
    bool storeEeprom(const std::string& record) const;
    bool storeFactory(const std::string& record) const;

    // Chunk k covers flash offsets 4000k to 4000k+3999; bytes beyond the flash read as erased
    // and are dropped on write.
    void readChunk(uint32_t chunk, uint8_t* out) const;
    void writeChunk(uint32_t chunk, const uint8_t* in) const;

    std::string readFlash() const { return ReadSizedFile(paths_.flashFile(), kFlashSize); }
    // Replaces the whole flash with an image of at most 64 KiB; the rest reads erased.
    bool storeFlash(const std::string& image) const;
    void eraseFlash() const;

private:
    // The flash's descriptor, kept between commands (see HostHandles.h).
    int openFlash(bool forWriting) const;
    void writeInPlace(off_t offset, const uint8_t* in, size_t length) const;
    const HostPaths& paths_;
};

}  // namespace emu
