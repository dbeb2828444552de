// A disk link over the stand-in: one reader model on a virtual disk, a virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "reader/links/link_ops.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "sim/reader_model.h"

namespace vantrel::links {

class DiskLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_.AddReader(reader_);
    platform::Providers p;
    p.disk = &disk_;
    p.clock = &clock_;
    previous_ = platform::Install(p);
  }
  void TearDown() override {
    // Whatever a test did, the link must not keep a device open (the firmware tests
    // finish their update first).
    EXPECT_EQ(disk_.OpenHandles(), 0);
    platform::Install(previous_);
  }

  const LinkOps& ops() const { return DiskLinkOps(); }

  sim::ReaderModel reader_;
  platform::VirtualDisk disk_;
  platform::VirtualClock clock_{1000};
  platform::Providers previous_;
};

}  // namespace vantrel::links
