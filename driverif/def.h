// Definitions shared by the utility and the card's utility driver: the 308-byte adapter
// configuration record and the raw NVRAM layouts. Every multi-byte field is in host byte
// order; fields are naturally aligned and the padding bytes belong to the record.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t UCHAR;
typedef uint16_t USHORT;
typedef uint32_t ULONG;

// SCSI terminator mode, a 32-bit field of the record.
typedef enum : int32_t {
    DISABLE_TERM = 0,
    ENABLE_HIGHTERM = 1,
    ENABLE_LOWTERM = 2,
    ENABLE_TERM = 3,
    AUTO_TERM = 4,
} TERM_MODE;

// Maximum synchronous transfer rate of a target, a 32-bit field of the record.
typedef enum : int32_t {
    SYNC_RESERVED = 0,
    SYNC_20MB = 1,
    SYNC_13p3MB = 2,
    SYNC_10MB = 3,
    SYNC_8MB = 4,
    SYNC_6p6MB = 5,
    SYNC_5p7MB = 6,
    SYNC_5MB = 7,
} SYNC_SPEED;

enum { kSCSITargetCount = 16 };

typedef struct SCSIUTY_CFG {
    int32_t Valid;
    UCHAR HA_ScsiID;
    UCHAR BootTargetID;
    UCHAR pad0[2];
    int32_t BiosEnable;
    int32_t BootCDROM;
    int32_t RemovalHD;
    UCHAR ResetToSelTime;
    UCHAR Targets;
    UCHAR pad1[2];
    int32_t ParityEnable;
    TERM_MODE TermMode;
    int32_t SyncEnable[kSCSITargetCount];
    int32_t WideEnable[kSCSITargetCount];
    int32_t DisconnectEnable[kSCSITargetCount];
    SYNC_SPEED SyncSpeed[kSCSITargetCount];
    UCHAR Reserved0;
    UCHAR pad2;
    USHORT PcbVersion;
    UCHAR PcbRevision;
    UCHAR pad3[3];
    ULONG Reserved1;
    int32_t Burst;
    UCHAR RQdelay;
    UCHAR pad4[3];
} SCSIUTY_CFG, *PSCSIUTY_CFG;

// Raw NVRAM images as the card describes them. The utility declares no object of these types.
typedef struct NVRAM1 {
    UCHAR NumOfCh;
    UCHAR BIOSConfig1;
    UCHAR BIOSConfig2;
    UCHAR BIOSConfig3;
    UCHAR SCSI0Id;
    UCHAR SCSI0Config;
    UCHAR SCSI0MaxTags;
    UCHAR SCSI0ResetTime;
    UCHAR NoTarget;
    UCHAR ReservedforChannel0;
    UCHAR Target00Config, Target01Config, Target02Config, Target03Config;
    UCHAR Target04Config, Target05Config, Target06Config, Target07Config;
    UCHAR Target08Config, Target09Config, Target0AConfig, Target0BConfig;
    UCHAR Target0CConfig, Target0DConfig, Target0EConfig, Target0FConfig;
    UCHAR SCSI1Id;
    UCHAR SCSI1Config;
    UCHAR SCSI1MaxTags;
    UCHAR SCSI1ResetTime;
    UCHAR ReservedforChannel1[2];
    UCHAR Target10Config, Target11Config, Target12Config, Target13Config;
    UCHAR Target14Config, Target15Config, Target16Config, Target17Config;
    UCHAR Target18Config, Target19Config, Target1AConfig, Target1BConfig;
    UCHAR Target1CConfig, Target1DConfig, Target1EConfig, Target1FConfig;
    UCHAR reserved[3];
    UCHAR CheckSum;
} NVRAM1, *PNVRAM1;

typedef struct NVRAM {
    USHORT SubVendorID;
    USHORT SubSysID;
    UCHAR SubClass;
    UCHAR pad0;
    USHORT VendorID;
    USHORT DeviceID;
    UCHAR Reserved0[2];
    UCHAR Revision;
    // The NVRAM1 body, inline.
    UCHAR NumOfCh;
    UCHAR BIOSConfig1;
    UCHAR BIOSConfig2;
    UCHAR BIOSConfig3;
    UCHAR SCSI0Id;
    UCHAR SCSI0Config;
    UCHAR SCSI0MaxTags;
    UCHAR SCSI0ResetTime;
    UCHAR NoTarget;
    UCHAR ReservedforChannel0;
    UCHAR Target00Config, Target01Config, Target02Config, Target03Config;
    UCHAR Target04Config, Target05Config, Target06Config, Target07Config;
    UCHAR Target08Config, Target09Config, Target0AConfig, Target0BConfig;
    UCHAR Target0CConfig, Target0DConfig, Target0EConfig, Target0FConfig;
    UCHAR SCSI1Id;
    UCHAR SCSI1Config;
    UCHAR SCSI1MaxTags;
    UCHAR SCSI1ResetTime;
    UCHAR ReservedforChannel1[2];
    UCHAR Target10Config, Target11Config, Target12Config, Target13Config;
    UCHAR Target14Config, Target15Config, Target16Config, Target17Config;
    UCHAR Target18Config, Target19Config, Target1AConfig, Target1BConfig;
    UCHAR Target1CConfig, Target1DConfig, Target1EConfig, Target1FConfig;
    UCHAR reserved[3];
    UCHAR CheckSum;
    UCHAR pad1;
} NVRAM, *PNVRAM;

typedef struct SCSI_CONFIG {
    UCHAR SCSI0Id;
    UCHAR SCSI0Config;
    UCHAR SCSI0MaxTags;
    UCHAR SCSI0ResetTime;
    UCHAR NoTarget;
    UCHAR ReservedforChannel0;
    UCHAR Target00Config, Target01Config, Target02Config, Target03Config;
    UCHAR Target04Config, Target05Config, Target06Config, Target07Config;
    UCHAR Target08Config, Target09Config, Target0AConfig, Target0BConfig;
    UCHAR Target0CConfig, Target0DConfig, Target0EConfig, Target0FConfig;
    UCHAR CheckSum;
} SCSI_CONFIG, *PSCSI_CONFIG;

// The layouts are an interface with the driver: any drift is a compile error.
static_assert(sizeof(TERM_MODE) == 4 && sizeof(SYNC_SPEED) == 4);
static_assert(sizeof(SCSIUTY_CFG) == 308);
static_assert(offsetof(SCSIUTY_CFG, Valid) == 0);
static_assert(offsetof(SCSIUTY_CFG, HA_ScsiID) == 4);
static_assert(offsetof(SCSIUTY_CFG, BootTargetID) == 5);
static_assert(offsetof(SCSIUTY_CFG, BiosEnable) == 8);
static_assert(offsetof(SCSIUTY_CFG, BootCDROM) == 12);
static_assert(offsetof(SCSIUTY_CFG, RemovalHD) == 16);
static_assert(offsetof(SCSIUTY_CFG, ResetToSelTime) == 20);
static_assert(offsetof(SCSIUTY_CFG, Targets) == 21);
static_assert(offsetof(SCSIUTY_CFG, ParityEnable) == 24);
static_assert(offsetof(SCSIUTY_CFG, TermMode) == 28);
static_assert(offsetof(SCSIUTY_CFG, SyncEnable) == 32);
static_assert(offsetof(SCSIUTY_CFG, WideEnable) == 96);
static_assert(offsetof(SCSIUTY_CFG, DisconnectEnable) == 160);
static_assert(offsetof(SCSIUTY_CFG, SyncSpeed) == 224);
static_assert(offsetof(SCSIUTY_CFG, Reserved0) == 288);
static_assert(offsetof(SCSIUTY_CFG, PcbVersion) == 290);
static_assert(offsetof(SCSIUTY_CFG, PcbRevision) == 292);
static_assert(offsetof(SCSIUTY_CFG, Reserved1) == 296);
static_assert(offsetof(SCSIUTY_CFG, Burst) == 300);
static_assert(offsetof(SCSIUTY_CFG, RQdelay) == 304);

static_assert(sizeof(NVRAM1) == 52);
static_assert(offsetof(NVRAM1, SCSI0Id) == 4);
static_assert(offsetof(NVRAM1, ReservedforChannel0) == 9);
static_assert(offsetof(NVRAM1, Target00Config) == 10);
static_assert(offsetof(NVRAM1, Target0FConfig) == 25);
static_assert(offsetof(NVRAM1, SCSI1Id) == 26);
static_assert(offsetof(NVRAM1, ReservedforChannel1) == 30);
static_assert(offsetof(NVRAM1, Target10Config) == 32);
static_assert(offsetof(NVRAM1, Target1FConfig) == 47);
static_assert(offsetof(NVRAM1, reserved) == 48);
static_assert(offsetof(NVRAM1, CheckSum) == 51);

static_assert(sizeof(NVRAM) == 66);
static_assert(offsetof(NVRAM, SubSysID) == 2);
static_assert(offsetof(NVRAM, SubClass) == 4);
static_assert(offsetof(NVRAM, VendorID) == 6);
static_assert(offsetof(NVRAM, DeviceID) == 8);
static_assert(offsetof(NVRAM, Reserved0) == 10);
static_assert(offsetof(NVRAM, Revision) == 12);
static_assert(offsetof(NVRAM, NumOfCh) == 13);
static_assert(offsetof(NVRAM, Target00Config) == 13 + offsetof(NVRAM1, Target00Config));
static_assert(offsetof(NVRAM, SCSI1Id) == 13 + offsetof(NVRAM1, SCSI1Id));
static_assert(offsetof(NVRAM, Target10Config) == 13 + offsetof(NVRAM1, Target10Config));
static_assert(offsetof(NVRAM, CheckSum) == 64);

static_assert(sizeof(SCSI_CONFIG) == 23);
static_assert(offsetof(SCSI_CONFIG, Target00Config) == 6);
static_assert(offsetof(SCSI_CONFIG, Target0FConfig) == 21);
static_assert(offsetof(SCSI_CONFIG, CheckSum) == 22);
