// The burn and erase dialogs as the main window opens them.
#pragma once

namespace brennix {

class TfrmMain;

// Create the dialog owned by the main window, let it prepare, show it modally, free it.
void RunBurnDialog(TfrmMain& owner);
void RunEraseDialog(TfrmMain& owner);

}  // namespace brennix
