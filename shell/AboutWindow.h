#pragma once

#include <QString>
#include <QWidget>

#include <optional>

namespace vantuli {

// "Version <short> (<build>)": a part that is missing contributes nothing.
QString aboutVersionLine(const std::optional<QString> &shortVersion, const std::optional<QString> &build);

// The About window's content: the artwork, name and version, a fixed English
// text on what the application is and where its stations come from, and
// three links to the product web site. The texts never change with the
// interface language; the background follows the colour scheme.
class AboutVantuliView : public QWidget {
    Q_OBJECT

public:
    explicit AboutVantuliView(QWidget *parent = nullptr);

private:
    void applyScheme();
};

} // namespace vantuli
