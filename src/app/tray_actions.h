// Opening and closing the tray of the recorder selected in a component, with the warnings
// every window shows when the drive refuses.
#pragma once

class QWidget;

namespace brennix {

class TSCSIDevice;

// Flushes the drive's cache, allows removal and ejects; "Unable to eject the device." when
// the tray did not open. True when it did.
bool EjectDevice(QWidget* owner, TSCSIDevice& component);
// Closes the tray; "Unable to load the device." when it did not. True when it did.
bool LoadDevice(QWidget* owner, TSCSIDevice& component);

}  // namespace brennix
