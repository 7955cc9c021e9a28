// The fixture of the tests that run the process-wide camera manager on fake factories: the fakes
// go in once, before anything makes the manager, and every test starts with no camera listed.
#pragma once

#include <gtest/gtest.h>

#include "FakeCameraFactory.h"

namespace qvsim {

class ManagerFakesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const ManagerFakes fakes = InstallManagerFakes();
        s_usb = fakes.usb;
        s_gige = fakes.gige;
    }
    void SetUp() override {
        ASSERT_NE(s_usb, nullptr) << "the manager's factories were not replaced";
        s_usb->SetDevices({});
        s_gige->SetDevices({});
    }

    static inline CFakeCameraFactory* s_usb = nullptr;
    static inline CFakeCameraFactory* s_gige = nullptr;
};

}  // namespace qvsim
