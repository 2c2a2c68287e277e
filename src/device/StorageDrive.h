// The storage-drive fields of a device record (CD-ROM flag, physical drive number, CD-ROM
// number): the drive of the storage bridge found behind the hub, as the platform's drive
// finder reports it (Linux: the block devices below the hub in sysfs, numbered by kernel
// name, sda = physical drive 0, sr0 = CD-ROM 0; the simulated bench: the hub's "storage"
// object). A hub without a drive, or one whose drive cannot be looked up, keeps the free
// values (flag 0, numbers 127), so the bridge commands find no drive and touch nothing.
#pragma once

#include "host/DeviceList.h"
#include "platform/ScsiPassThrough.h"

// Fills one record from its m_strHubObjectName. True when a drive was found.
bool bFillStorageDrive(DevRecord& rec, IStorageDriveFinder& finder);
// Fills every occupied record 0..DevNums-1. Call after identification, once each record's
// m_strHubObjectName is final. Returns the number of records that got a drive.
int nFillStorageDrives(DeviceList& list, IStorageDriveFinder& finder);
