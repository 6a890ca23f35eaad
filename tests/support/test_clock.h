// Fixture for tests of the accelerated test clock, whose files live at fixed paths under /tmp.
// It gives the test process a private /tmp when the system allows it (a mount namespace), so
// parallel runs on one machine cannot meet in those files; otherwise it saves and restores them.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "testbed.h"

namespace testbed {

class TestClockTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes one of the clock files (full path) with the given text.
    static void write_clock_file(const std::string& path, const std::string& text);
    bool private_tmp() const { return private_tmp_; }
    std::unique_ptr<AgentHome> home;  // made after /tmp has been replaced

private:
    bool private_tmp_ = false;
    std::map<std::string, std::string> saved_;
};

}  // namespace testbed
