// Fake /sys listings and /dev nodes for the real Linux backends. The system calls the
// SG_IO and hidraw backends make (opendir/readdir on /sys/class/scsi_generic,
// /sys/block and /sys/class/hidraw; open, close, ioctl, read, write and poll on the
// nodes) are caught on their way to the C library and answered by a stand-in reader,
// so the real backends run whole sessions, and every fault the stand-in injects,
// without a device. Each fake node holds a real descriptor (of /dev/null), so a node
// left open shows in /proc/self/fd like a real one.
//
// While nothing is attached every call goes to the C library unchanged; while a reader
// is attached the fake listings replace the real ones.
#pragma once

#include "sim/reader_model.h"

namespace vantrel::testing {

// /dev/sg0, listed under /sys/class/scsi_generic, carrying the reader.
void AttachFakeDisk(sim::ReaderModel& reader);
// /dev/hidraw0 with the given ids, listed under /sys/class/hidraw. A write the reader
// does not take (stall) fails with EAGAIN.
void AttachFakeHid(sim::ReaderModel& reader, uint16_t vendor = 0x4B21, uint16_t product = 0x0771);
// Removes the fake nodes (descriptors still open on them keep failing).
void DetachFakeNodes();
// Fake nodes open right now.
int OpenFakeNodes();

}  // namespace vantrel::testing
