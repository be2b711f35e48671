#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>

class QAbstractButton;
class QDialog;
class QLabel;
class QTimer;
class QVariantAnimation;

namespace vantuli {

class CaptionDesk;
class FloatingCaptions;
class HeaderToolbar;
class PlayerTransport;
class RadioStore;
class Refresher;
class SettingsStore;
class StationDirectory;
class StationMasthead;
class StudioButton;
class SupportCatalog;
class TranslationPanel;

// The settings key of the directory column's visibility.
inline constexpr const char *directoryVisibleKey = "studioDirectoryVisible";
// The settings key of the main window's size and place (QWidget::saveGeometry, base64).
inline constexpr const char *windowGeometryKey = "mainWindowGeometry";
// The stored visibility of the directory column: shown unless a readable
// false is stored.
bool storedDirectoryVisible(const SettingsStore &settings);

// Sizes of the main window's content area of `width` x `height`.
int directoryColumnWidth(int width);  // clamp(width x 0.275, 232, 300)
int mastheadHeight(int height);       // clamp(height x 0.28, 143, 195)

// The main window: a header bar (artwork, title, directory toggle, toolbar)
// over the content area, with the station directory on the left and the
// station column (masthead while a station is selected, caption desk,
// transport) filling the rest. Turns the store's sheet flags into sheets and
// its translation request into the translation panel.
class RadioWindow : public QMainWindow {
    Q_OBJECT

public:
    RadioWindow(RadioStore *radio, FloatingCaptions *floating, SupportCatalog *support,
                std::function<void()> toggleFloating, std::shared_ptr<SettingsStore> settings,
                QWidget *parent = nullptr);
    ~RadioWindow() override;

    bool showDirectory() const { return showDirectory_; }
    void setShowDirectory(bool show, bool animated = true);
    void toggleDirectory();
    int searchRequest() const { return searchRequest_; }
    // The search command: reveals the directory and raises the request count,
    // which focuses the directory's search field.
    void requestSearch();
    // A link handed to the application.
    void openLink(const QUrl &url);

    // Parts, for the application object and tests.
    StationDirectory *directory() const;
    StationMasthead *masthead() const;
    CaptionDesk *captionDesk() const { return desk_; }
    PlayerTransport *transport() const { return transport_; }
    HeaderToolbar *toolbar() const { return toolbar_; }
    TranslationPanel *translationPanel() const { return translation_; }
    QWidget *contentArea() const { return content_; }
    QDialog *sheet(const QString &name) const; // "schedule", "support", "archive"

protected:
    void changeEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildHeader(QWidget *header);
    void updateDirectory();
    void updateMasthead();
    void updateTexts();
    void applyScheme();
    void bindSheets();
    void placeTranslation();
    void saveGeometryToSettings();
    bool eventFilter(QObject *watched, QEvent *event) override;

    RadioStore *radio_;
    FloatingCaptions *floating_;
    SupportCatalog *support_;
    std::function<void()> toggleFloating_;
    std::shared_ptr<SettingsStore> settings_;

    bool showDirectory_ = true;
    int searchRequest_ = 0;

    QWidget *root_ = nullptr;
    QWidget *header_ = nullptr;
    QWidget *content_ = nullptr;
    QLabel *artwork_ = nullptr;
    QLabel *title_ = nullptr;
    StudioButton *toggle_ = nullptr;
    HeaderToolbar *toolbar_ = nullptr;
    QPointer<StationDirectory> directory_;
    QPointer<StationMasthead> masthead_;
    CaptionDesk *desk_ = nullptr;
    PlayerTransport *transport_ = nullptr;
    TranslationPanel *translation_ = nullptr;
    QPointer<QDialog> schedule_;
    QPointer<QDialog> supportSheet_;
    QPointer<QDialog> archive_;
    QVariantAnimation *reveal_ = nullptr;
    Refresher *texts_ = nullptr;
    QTimer *geometrySave_ = nullptr;
    friend class ContentArea;
};

// The header's toolbar: the listening actions (overlay, schedule) and the app
// actions (support, interface language). One row when the width it gets
// holds them all, else two rows aligned to the trailing edge.
class HeaderToolbar : public QWidget {
    Q_OBJECT

public:
    HeaderToolbar(RadioStore *radio, FloatingCaptions *floating, std::function<void()> toggleFloating,
                  QWidget *parent = nullptr);

    bool twoRows() const { return twoRows_; }
    QAbstractButton *overlayButton() const;
    void setForeground(const QColor &color);
    void updateTexts();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    void arrange();
    void updateOverlay();
    QSize groupSize(const QList<QWidget *> &items) const;

    RadioStore *radio_;
    FloatingCaptions *floating_;
    QList<QWidget *> listening_;
    QList<QWidget *> app_;
    StudioButton *overlay_;
    StudioButton *schedule_;
    StudioButton *support_;
    StudioButton *language_;
    bool twoRows_ = false;
    QColor foreground_;
};

} // namespace vantuli
