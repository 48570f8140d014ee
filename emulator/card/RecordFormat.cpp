#include "emulator/card/RecordFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "driverif/PcbVersion.h"
#include "driverif/def.h"

namespace emu {

namespace {

const char* TermModeName(int32_t mode) {
    static const char* const names[] = {"DISABLE_TERM", "ENABLE_HIGHTERM", "ENABLE_LOWTERM",
                                        "ENABLE_TERM", "AUTO_TERM"};
    return mode >= 0 && mode < 5 ? names[mode] : "unknown";
}

const char* SyncSpeedName(int32_t speed) {
    static const char* const names[] = {"SYNC_RESERVED", "SYNC_20MB",  "SYNC_13p3MB", "SYNC_10MB",
                                        "SYNC_8MB",      "SYNC_6p6MB", "SYNC_5p7MB",  "SYNC_5MB"};
    return speed >= 0 && speed < 8 ? names[speed] : "unknown";
}

std::string Bytes(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
        text += hex;
    }
    return text;
}

class Lines {
public:
    void add(const std::string& name, long long value) {
        text_ += name + " " + std::to_string(value) + "\n";
    }
    void add(const std::string& name, const std::string& value) {
        text_ += name + " " + value + "\n";
    }
    void pad(const char* name, const uint8_t* bytes, size_t count) {
        text_ += name + Bytes(bytes, count) + "\n";
    }
    void flags(const char* name, const int32_t* values) {
        for (int i = 0; i < kSCSITargetCount; ++i)
            add(std::string(name) + "[" + std::to_string(i) + "]", values[i]);
    }
    std::string text() const { return text_; }

private:
    std::string text_;
};

}  // namespace

std::string DescribeRecord(const std::string& record) {
    SCSIUTY_CFG r{};
    std::memcpy(&r, record.data(), std::min(record.size(), sizeof r));
    Lines lines;
    lines.add("Valid", r.Valid);
    lines.add("HA_ScsiID", r.HA_ScsiID);
    lines.add("BootTargetID", r.BootTargetID);
    lines.pad("pad0", r.pad0, sizeof r.pad0);
    lines.add("BiosEnable", r.BiosEnable);
    lines.add("BootCDROM", r.BootCDROM);
    lines.add("RemovalHD", r.RemovalHD);
    lines.add("ResetToSelTime", r.ResetToSelTime);
    lines.add("Targets", r.Targets);
    lines.pad("pad1", r.pad1, sizeof r.pad1);
    lines.add("ParityEnable", r.ParityEnable);
    lines.add("TermMode", std::to_string(r.TermMode) + " " + TermModeName(r.TermMode));
    lines.flags("SyncEnable", r.SyncEnable);
    lines.flags("WideEnable", r.WideEnable);
    lines.flags("DisconnectEnable", r.DisconnectEnable);
    for (int i = 0; i < kSCSITargetCount; ++i) {
        lines.add("SyncSpeed[" + std::to_string(i) + "]",
                  std::to_string(r.SyncSpeed[i]) + " " + SyncSpeedName(r.SyncSpeed[i]));
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%02x", r.Reserved0);
    lines.add("Reserved0", hex);
    lines.pad("pad2", &r.pad2, 1);
    std::snprintf(hex, sizeof hex, "0x%04x", r.PcbVersion);
    lines.add("PcbVersion", PcbVersionText(r.PcbVersion) + " (" + hex + ")");
    lines.add("PcbRevision", r.PcbRevision);
    lines.pad("pad3", r.pad3, sizeof r.pad3);
    std::snprintf(hex, sizeof hex, "0x%08x", r.Reserved1);
    lines.add("Reserved1", hex);
    lines.add("Burst", r.Burst);
    lines.add("RQdelay", r.RQdelay);
    lines.pad("pad4", r.pad4, sizeof r.pad4);
    return lines.text();
}

}  // namespace emu
