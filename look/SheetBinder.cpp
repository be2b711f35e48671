#include "look/SheetBinder.h"

#include "store/RadioStore.h"

#include <QDialog>
#include <QPointer>

namespace vantuli {

void bindSheet(QDialog *dialog, RadioStore *store, bool (RadioStore::*get)() const, void (RadioStore::*set)(bool),
               void (RadioStore::*changed)())
{
    dialog->setWindowModality(Qt::WindowModal);
    QPointer<RadioStore> weakStore(store);
    auto sync = [dialog, weakStore, get] {
        if (!weakStore)
            return;
        const bool wanted = ((*weakStore).*get)();
        if (wanted && !dialog->isVisible())
            dialog->open();
        else if (!wanted && dialog->isVisible())
            dialog->close();
    };
    QObject::connect(store, changed, dialog, sync);
    QObject::connect(dialog, &QDialog::finished, dialog, [weakStore, get, set] {
        if (weakStore && ((*weakStore).*get)())
            ((*weakStore).*set)(false);
    });
    sync();
}

} // namespace vantuli
