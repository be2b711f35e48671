#pragma once

#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QMenu;
class QStackedLayout;
class QToolButton;

namespace vantuli {

class CaptionHistory;
class FitLabel;
class RadioStore;
class Refresher;
class SettingsStore;
class ToggleSwitch;

// The caption area of the station column: the live caption history with its
// switch, size and recognition-language menu, or one explanatory text when
// there is nothing to show. A caption is handed to the translation panel
// through the store, or copied.
class CaptionDesk : public QWidget {
    Q_OBJECT

public:
    // The settings key of the caption size.
    static constexpr const char *sizeKey = "subtitleSize";
    // The caption sizes the menu offers, in pixels.
    static constexpr double sizes[] = {18, 23, 28, 32, 38, 46};
    static constexpr double defaultSize = 32;

    CaptionDesk(RadioStore *radio, std::shared_ptr<SettingsStore> settings, QWidget *parent = nullptr);
    ~CaptionDesk() override;

    // The size of the newest caption line; kept in the settings.
    double captionSize() const { return size_; }
    void setCaptionSize(double size);
    // A stored size that is usable: finite and within 12...96, else the default.
    static double usableSize(std::optional<double> stored);

    // The explanatory text shown instead of captions, by precedence.
    QString emptyText() const;
    // The recognition-language menu's labels for the tags, no two alike.
    static QStringList languageLabels(const QStringList &tags);

    CaptionHistory *history() const { return history_; }
    QMenu *settingsMenu() const { return menu_; }

private:
    void refresh();
    void rebuildMenu();
    void applyColors();
    void translate(const QString &text);

    RadioStore *radio_;
    std::shared_ptr<SettingsStore> settings_;
    double size_ = defaultSize;

    FitLabel *title_;
    QToolButton *menuButton_;
    QMenu *menu_;
    ToggleSwitch *switch_;
    FitLabel *playing_;
    QWidget *divider_;
    QStackedLayout *body_;
    QWidget *emptyState_;
    QLabel *emptyIcon_;
    QLabel *emptyLabel_;
    QLabel *failureLabel_;
    QWidget *historyPage_;
    CaptionHistory *history_;
    QLabel *notice_;

    Refresher *refresher_;
    Refresher *menuRefresher_;
    QString emptySymbol_;
};

} // namespace vantuli
