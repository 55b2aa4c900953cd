#pragma once
// Test fixture: a fresh temporary folder mounted in gFileSystem as "user" and a
// capturing log sink, both undone after each test.
#include <gtest/gtest.h>

#include "CaptureLogSink.h"
#include "ContainerBuilder.h"
#include "core/fs/FileSystem.h"

struct UserFolderFixture : ::testing::Test {
    testfs::TempDir dir;
    CaptureLogSink sink;
    void SetUp() override {
        sink.Attach();
        ASSERT_TRUE(gFileSystem.MountDirectory("user", dir.Path().c_str()));
    }
    void TearDown() override {
        gFileSystem.UnmountAll();
        sink.Detach();
    }
};
