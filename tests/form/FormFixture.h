// A controller wired to plain controls, on a fresh emulated host, with the built bundle as its
// main bundle.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "app/SC820Controller.h"
#include "tests/support/FakeControls.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

struct FormControls {
    FakeView window;
    FakeView* container = nullptr;
    FakePopUp* hostId = nullptr;
    FakePopUp* resetTime = nullptr;
    FakePopUp* senseDelay = nullptr;
    FakeButton* burstE = nullptr;
    FakeButton* burstD = nullptr;
    FakeButton* parityE = nullptr;
    FakeButton* parityD = nullptr;
    FakeButton* term[4] = {};
    FakeTextField* verUtility = nullptr;
    FakeTextField* verKext = nullptr;
    FakeTextField* verBios = nullptr;
    FakeTextField* verPcb = nullptr;
    FakePopUp* maxTransfer[16] = {};
    FakeButton* sync[16] = {};
    FakeButton* wide[16] = {};
    FakeButton* disconnect[16] = {};

    FormControls();
    // Connects the outlets and the per-target arrays as start-up would.
    void connect(SC820Controller& c);
};

class FormTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A record with a distinctive value in every byte, then form-representable values in the
    // fields the form edits.
    static SCSIUTY_CFG DistinctiveRecord();

    TempHost host;
    RecordingBackend backend;
    FormControls controls;
    SC820Controller controller;
};
