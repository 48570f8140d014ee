// The utility's one controller. It holds all state (the window's controls, the configuration
// record, the driver handles and the administrator authorization) and every operation of the
// program is one of its methods. The methods are defined in the folder of the subsystem they
// belong to: app/ (start-up and closing), card/ (command channel), form/ (record and form),
// firmware/ (flash and version reading), driverctl/ (in-use check, authorization, runners).
//
// The fields and methods keep the names the card's software has always used, odd spellings
// included (`rereasePort`, `out_verSCSIConfigration`, `out_verConfigurateionDriver`): the window
// description, the driver and the people who know the card use these names, so they are kept on
// purpose and must not be corrected. Names this program adds follow the project's own style:
// private members end in an underscore.
#pragma once

#include <cstdint>
#include <vector>

#include "driverif/def.h"
#include "platform/foundation/Foundation.h"
#include "platform/registry/IOKit.h"
#include "platform/security/Security.h"
#include "platform/window/AppKit.h"

// Tag bases of the per-target controls: the control for target ID i carries base + i.
enum {
    MaxTransferID = 100,
    SyncTransferID = 200,
    WideTransferID = 300,
    DisconnectID = 400,
};

// The size of the path-test command buffer, terminating zero included.
inline constexpr size_t kTestCommandBufferSize = 1024;

class SC820Controller : public NSObject {
public:
    // --- Fields, in the order of the data model. A new controller has every field zero. ---
    NSWindow* out_window = nullptr;
    NSPopUpButton* out_hostSCSIID = nullptr;
    NSPopUpButton* out_resetRecoveringTime = nullptr;
    NSPopUpButton* out_requestSenseDelay = nullptr;
    NSButton* out_burstTransfer_E = nullptr;
    NSButton* out_burstTransfer_D = nullptr;
    NSButton* out_parity_E = nullptr;
    NSButton* out_parity_D = nullptr;
    NSButton* out_SCSITerminators_0 = nullptr;
    NSButton* out_SCSITerminators_1 = nullptr;
    NSButton* out_SCSITerminators_2 = nullptr;
    NSButton* out_SCSITerminators_3 = nullptr;
    NSTextField* out_verSCSIConfigration = nullptr;
    NSTextField* out_verConfigurateionDriver = nullptr;
    NSTextField* out_verSCSIBIOS = nullptr;
    NSTextField* out_verPCB = nullptr;
    NSButton* out_erase = nullptr;
    NSButton* out_write = nullptr;
    NSButton* out_disconnect[kSCSITargetCount] = {};
    NSPopUpButton* out_maxTransfer[kSCSITargetCount] = {};
    NSButton* out_syncTransfer[kSCSITargetCount] = {};
    NSButton* out_wideTransfer[kSCSITargetCount] = {};
    NSWindow* dlgPassword = nullptr;
    NSTextField* txtPassword = nullptr;
    io_service_t mDeviceRef = 0;
    io_connect_t mDataPort = 0;
    SCSIUTY_CFG eep_config_buf = {};
    PSCSIUTY_CFG eep_config = nullptr;
    AuthorizationRef mAuthRef = nullptr;

    // --- Application shell (app/) ---
    SC820Controller* init();
    void awakeFromNib();
    void act_ok(id sender);
    void act_cancel(id sender);
    int windowShouldClose(id sender);
    void dealloc();

    // --- Card access (card/): each command opens and closes its own connection and returns
    // 1 when the driver accepted the command, 0 when it refused it. ---
    int getPort();
    int rereasePort();
    int doGetEEPConfig();
    int doSetEEPConfig();
    int doGetEEPDefault();
    int doEraseFlash();
    int doReadFlash(uint8_t* buffer);
    int doWriteFlash(uint8_t* buffer);

    // --- Configuration form (form/) ---
    void setConfigWindow();
    void getConfigWindow();
    void act_default(id sender);

    // --- Firmware maintenance (firmware/) ---
    void act_erase(id sender);
    void act_write(id sender);
    NSString getBiosVersion(const char* targetDriver);
    // The 65,536-byte flash, read through the card in one sweep; false when a chunk was refused.
    bool readWholeFlash(std::vector<uint8_t>* flash);

    // --- Driver control (driverctl/) ---
    int canUnloadDriver();
    void acquireRights();
    void swapDrivers();
    void freeAuthorization();
    int authLog(const char* cmd, char* const* arg);
    int execLog(const char* cmd);
    int doExecLog(const char* cmd);
    void dlgOk(id sender);
    void dlgCancel(id sender);

private:
    // Start-up steps (app/).
    NSView* containerView_ = nullptr;
    bool passesPathTest();
    void bindTaggedControls();
    // Write's answer to an image that did not verify (firmware/).
    void eraseAfterFailedWrite();
    // Copies of what a change replaces, read from the card just before it (app/). Each returns
    // whether the change may go on: a copy was kept, or the user chose to go on without one.
    bool keepFlashCopy();
    bool keepRecordCopy();
    bool keepCopy(const char* kind, const uint8_t* bytes, size_t length, bool readByCard);
    // One command round trip on a fresh connection (card/).
    int sendStructureIn(int selector, void* structure, uint32_t size);
    int sendStructureOut(int selector, void* structure, uint32_t size);
    // Without the driver nothing can be done: the message is shown and the program ends. While
    // a Write changes the flash, ending at once would leave part of an image in it: the failure
    // is held instead, the command counts as refused (so the Write goes on to verify and to
    // erase what failed), and settleChannel shows the message and ends the program afterwards.
    int failChannel(const char* messageKey);
    void settleChannel();
    bool holdChannelFailures_ = false;
    const char* heldChannelFailure_ = nullptr;
};
