#pragma once

#include "sheets/ArchivePaging.h"

#include <QDialog>

#include <optional>
#include <vector>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QTimer;
class QToolButton;
class QVBoxLayout;

namespace vantuli {

class RadioStore;
class Refresher;
class StudioSheetHeading;

// The listening-archive sheet: browses, searches, copies and clears the
// captions and listening sessions kept on this machine. Window-modal,
// 650 x 525. Archive errors are caught here and shown as the failure line.
class ArchiveView : public QDialog {
    Q_OBJECT
public:
    explicit ArchiveView(RadioStore *radio, QWidget *parent = nullptr);
    ~ArchiveView() override;

    // The model the sheet shows (read-only: tests and the bench look at it).
    const ArchivePaging &paging() const { return paging_; }

signals:
    // A load ran and its outcome is on screen.
    void pageLoaded();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class BlockView;

    void buildTexts();
    void applyScheme();
    void load(bool more);
    void copy(qint64 blockID);
    void setCopied(std::optional<qint64> id);
    void confirmClear();
    void refresh();
    void syncBlocks();
    void syncRows();
    void scrollToParagraph(qint64 id);
    QWidget *sessionRow(const ListeningArchive::Entry &row);
    QPushButton *makeLoadMore(QWidget *parent);

    RadioStore *radio_;
    ArchivePaging paging_;
    std::optional<qint64> copiedBlockID_;
    bool shown_ = false;

    StudioSheetHeading *heading_ = nullptr;
    QLabel *note_ = nullptr;
    QPushButton *captionsMode_ = nullptr;
    QPushButton *sessionsMode_ = nullptr;
    QLineEdit *search_ = nullptr;
    QPushButton *refresh_ = nullptr;
    QLabel *failure_ = nullptr;
    QStackedWidget *content_ = nullptr;
    QWidget *empty_ = nullptr;
    QLabel *emptyIcon_ = nullptr;
    QLabel *emptyTitle_ = nullptr;
    QScrollArea *captionList_ = nullptr;
    QVBoxLayout *blockColumn_ = nullptr;
    QPushButton *captionsMore_ = nullptr;
    QScrollArea *sessionList_ = nullptr;
    QVBoxLayout *rowColumn_ = nullptr;
    QPushButton *sessionsMore_ = nullptr;
    QPushButton *clear_ = nullptr;
    QPushButton *done_ = nullptr;
    QTimer *debounce_ = nullptr;
    QTimer *copiedReset_ = nullptr;
    Refresher *refresher_ = nullptr;

    std::vector<BlockView *> blockViews_;
    std::vector<qint64> shownRows_;
};

} // namespace vantuli
