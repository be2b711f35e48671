#include <QApplication>
#include <QLabel>
#include <QMainWindow>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Vantuli %s\n", VANTULI_VERSION);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vantuli"));
    QApplication::setApplicationName(QStringLiteral("Vantuli"));
    QMainWindow window;
    window.setObjectName(QStringLiteral("main"));
    window.setWindowTitle(QStringLiteral("Vantuli"));
    auto *label = new QLabel(QStringLiteral("Vantuli"), &window);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.resize(960, 640);
    window.show();
    return app.exec();
}
