// How the doctor asks Windows' tools (w32tm): a command line's output and its exit status.
#include <gtest/gtest.h>

#include "doctor/run_for_output.h"

TEST(DoctorCommands, WhatAWindowsCommandPrintedAndHowItEnded) {
    CommandOutput done = RunForOutput("cmd.exe /c echo Source: time.windows.com& exit 3");
    EXPECT_EQ(done.text, "Source: time.windows.com\r\n");
    EXPECT_EQ(done.exitStatus, 3);
    EXPECT_EQ(RunForOutput("no-such-tool.exe /query").exitStatus, 127);
}
