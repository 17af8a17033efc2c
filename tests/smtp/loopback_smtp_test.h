#pragma once
// A test with its own SMTP server on the loopback address, in a scratch
// folder. Without python3-aiosmtpd the test fails, saying what to install:
// a skip would let a run pass with no mail test at all.
#include <gtest/gtest.h>

#include <QStringList>
#include <string>

#include "tests/smtp/test_server.h"
#include "tests/unit/scratch_folder.h"

namespace raid::test_support {

class LoopbackSmtpTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!TestSmtpServer::Python(why)) FAIL() << why;
    }

    // Starts the server; the test fails when it cannot.
    bool Serve(const QStringList& options) {
        std::string error;
        const bool up = server.Start(options, error);
        EXPECT_TRUE(up) << error;
        return up;
    }

    ScratchFolder scratch{"smtp"};
    TestSmtpServer server{scratch.path() / "server"};
};

}  // namespace raid::test_support
