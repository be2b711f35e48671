#pragma once

class QDialog;

namespace vantuli {

class RadioStore;

// Binds a window-modal dialog to one of the store's sheet flags: the flag set
// opens the dialog, closing the dialog clears the flag, the flag cleared
// closes the dialog. Lives as long as the dialog.
void bindSheet(QDialog *dialog, RadioStore *store, bool (RadioStore::*get)() const,
               void (RadioStore::*set)(bool), void (RadioStore::*changed)());

} // namespace vantuli
