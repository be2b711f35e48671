// A program that changes a setting after its last sync(), as a window torn
// down at quit does, and ends at once: returning from main (the application
// object goes) or calling exit() with the application object still there.
#include "platform/SettingsStore.h"

#include <QCoreApplication>

#include <cstdlib>
#include <memory>
#include <cstring>

int main(int argc, char **argv)
{
    const bool exitAtOnce = argc > 1 && std::strcmp(argv[1], "exit") == 0;
    QCoreApplication app(argc, argv);
    // Held for the whole run, as the interface language holds it.
    const auto &settings = *new std::shared_ptr<vantuli::SettingsStore>(vantuli::SettingsStore::standard());
    settings->setValue(QStringLiteral("volume"), 0.3);
    settings->sync();
    settings->setValue(QStringLiteral("late"), QString(1 << 20, QLatin1Char('x')));
    if (exitAtOnce)
        std::exit(0);
    return 0;
}
