#include "sheets/ArchiveView.h"
#include "sheets/ScheduleView.h"

#include "support/WidgetHarness.h"

#include "look/StudioButton.h"
#include "look/ToggleSwitch.h"
#include "look/Labels.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QFile>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

using namespace vantuli;
using namespace vantuli::test;

namespace {

constexpr double t0 = 1'700'000'000.0;

QString L(const char *key)
{
    return L10n::shared().text(QString::fromUtf8(key));
}

// Captions of one station, one per second, oldest "w0".
void fillCaptions(ListeningArchive &archive, const QString &stationID, int count, double date)
{
    const qint64 session = archive.begin(stationID, QStringLiteral("Station ") + stationID, 0, Date{date});
    archive.checkpoint(session, Date{date}, Date{date}, 10, 100, 1, 0.5, false);
    for (int i = 0; i < count; ++i)
        archive.append({caption(QStringLiteral("w%1").arg(i), i)}, session, QStringLiteral("en"), Date{date + i});
}

// Children the open sheet shows; `unclipped` also asks that some of each
// child's area is left on screen (not cut away by a list too short for it).
template <typename T>
std::vector<T *> visibleChildren(QWidget *parent, const QString &name, bool unclipped = false)
{
    std::vector<T *> found;
    for (T *child : parent->findChildren<T *>(name))
        if (child->isVisible() && (!unclipped || !child->visibleRegion().isEmpty()))
            found.push_back(child);
    return found;
}

QStringList labelTexts(QWidget *parent, const QString &name, bool unclipped = false)
{
    QStringList texts;
    for (QLabel *label : visibleChildren<QLabel>(parent, name, unclipped))
        texts << label->text();
    for (FitLabel *label : visibleChildren<FitLabel>(parent, name, unclipped))
        texts << label->text();
    return texts;
}

} // namespace

// The archive sheet opened over `captions` captions of one station, its
// loads counted from the opening on.
struct OpenArchive {
    explicit OpenArchive(int captions)
    {
        fillCaptions(*harness.store->archive(), QStringLiteral("s1"), captions, t0);
        view.show();
    }
    WidgetHarness harness;
    ArchiveView view{harness.store.get()};
    QSignalSpy loads{&view, &ArchiveView::pageLoaded};
};

TEST(ArchiveView, TypingReloadsOnceAfterThePauseAndReturnLoadsWithoutClosing)
{
    OpenArchive open(3);
    ArchiveView &view = open.view;
    QSignalSpy &loads = open.loads;
    // Opening loads at once; three captions need no scroll bar.
    ASSERT_EQ(loads.size(), 1);
    EXPECT_EQ(view.findChild<QStackedWidget *>()->currentWidget()->objectName(), QStringLiteral("archiveCaptionBlocks"));
    WidgetHarness::settle();
    EXPECT_FALSE(view.findChild<QScrollArea *>(QStringLiteral("archiveCaptionBlocks"))->verticalScrollBar()->isVisible());

    auto *search = view.findChild<QLineEdit *>(QStringLiteral("archiveSearch"));
    QTest::keyClicks(search, QStringLiteral("w1x"));
    EXPECT_EQ(loads.size(), 1);
    // While the edit waits for its reload, copying is off.
    EXPECT_FALSE(view.findChild<QToolButton *>(QStringLiteral("archiveCopyBlock"))->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return loads.size() > 1; }));
    QTest::qWait(400);
    EXPECT_EQ(loads.size(), 2);
    EXPECT_EQ(view.paging().loadedFilter()->query, QStringLiteral("w1x"));
    EXPECT_EQ(labelTexts(&view, QStringLiteral("archiveEmptyTitle")), QStringList{L("没有匹配的本机记录")});

    // Return loads at once and the sheet stays open.
    QTest::keyClick(search, Qt::Key_Backspace);
    QTest::keyClick(search, Qt::Key_Return);
    EXPECT_EQ(loads.size(), 3);
    EXPECT_EQ(view.paging().loadedFilter()->query, QStringLiteral("w1"));
    EXPECT_TRUE(view.isVisible());

    // Clearing the field reloads at once; Return elsewhere closes the sheet.
    search->clear();
    EXPECT_EQ(loads.size(), 4);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_FALSE(view.isVisible());
}

TEST(ArchiveView, EachControlLoadsItsOwnPage)
{
    OpenArchive open(150);
    ArchiveView &view = open.view;
    QSignalSpy &loads = open.loads;
    WidgetHarness::settle();
    EXPECT_TRUE(view.findChild<QScrollArea *>(QStringLiteral("archiveCaptionBlocks"))->verticalScrollBar()->isVisible());
    auto press = [&view](const char *name) {
        return [&view, name] { view.findChild<QAbstractButton *>(QString::fromLatin1(name))->click(); };
    };
    const struct {
        const char *control;
        std::function<void()> act;
        bool captions; // the mode loaded
        bool more;     // the next page of that mode, not the first
    } rows[] = {
        {"sessions segment", press("archiveSessionsMode"), false, false},
        {"refresh", press("archiveRefresh"), false, false},
        {"captions segment", press("archiveCaptionsMode"), true, false},
        {"load more", [&view] { visibleChildren<QPushButton>(&view, QStringLiteral("archiveLoadMore")).at(0)->click(); },
         true, true},
        {"search, Return", [&view] { QTest::keyClick(view.findChild<QLineEdit *>(QStringLiteral("archiveSearch")), Qt::Key_Return); },
         true, false},
    };
    for (const auto &row : rows) {
        const qsizetype before = loads.size();
        row.act();
        EXPECT_EQ(loads.size(), before + 1) << row.control;
        EXPECT_EQ(view.paging().loadedFilter()->captions, row.captions) << row.control;
        // 150 captions: the first page leaves more to load, the second none.
        if (row.captions) {
            EXPECT_EQ(view.paging().hasMore(), !row.more) << row.control;
        }
        EXPECT_TRUE(view.isVisible()) << row.control;
    }
    press("archiveDone")();
    EXPECT_FALSE(view.isVisible());
}

TEST(ArchiveView, CopiesWholeBlocksAndKeepsTheClipboardWhenTheArchiveFails)
{
    WidgetHarness harness;
    ListeningArchive &archive = *harness.store->archive();
    fillCaptions(archive, QStringLiteral("s2"), 150, t0);
    fillCaptions(archive, QStringLiteral("s1"), 3, t0 + 5000);
    ArchiveView view(harness.store.get());
    view.show();

    auto copyButtons = visibleChildren<QToolButton>(&view, QStringLiteral("archiveCopyBlock"));
    ASSERT_EQ(copyButtons.size(), 2u);
    copyButtons[0]->click();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("w0 w1 w2"));
    EXPECT_EQ(copyButtons[0]->text(), L("已复制"));
    EXPECT_EQ(copyButtons[1]->text(), L("复制字幕段"));
    // The last block reads its older captions beyond the loaded page.
    copyButtons[1]->click();
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith(QStringLiteral("w0 w1 w2 w3 w4\n\nw5 w6 ")));
    EXPECT_EQ(copyButtons[0]->text(), L("复制字幕段"));

    const QStringList shown = labelTexts(&view, QStringLiteral("archiveFailure"));
    EXPECT_TRUE(shown.isEmpty());
    archive.write(QStringLiteral("DROP TABLE captions"), {});
    QApplication::clipboard()->setText(QStringLiteral("kept"));
    copyButtons[1]->click();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("kept"));
    EXPECT_EQ(labelTexts(&view, QStringLiteral("archiveFailure")), QStringList{L("无法读取或写入本机档案。")});
    // Load-more fails too; what was shown stays.
    const auto paragraphs = view.findChildren<LineSpacedLabel *>(QStringLiteral("archiveParagraph")).size();
    visibleChildren<QPushButton>(&view, QStringLiteral("archiveLoadMore")).at(0)->click();
    EXPECT_EQ(view.findChildren<LineSpacedLabel *>(QStringLiteral("archiveParagraph")).size(), paragraphs);
    EXPECT_EQ(paragraphs, 1u + 13u);

    // An archive file that cannot be opened leaves the store without one: the
    // failure, and in either mode nothing matching (not that nothing was
    // recorded), with nothing to clear.
    QTemporaryDir folder;
    const QString damaged = folder.filePath(QStringLiteral("Listening.sqlite3"));
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("not a database ").repeated(400));
    file.close();
    WidgetHarness unusable(testCatalog(), damaged);
    ASSERT_FALSE(unusable.store->archive());
    ArchiveView sheet(unusable.store.get());
    sheet.show();
    WidgetHarness::settle();
    for (const char *mode : {"archiveCaptionsMode", "archiveSessionsMode"}) {
        auto *button = sheet.findChild<QAbstractButton *>(QString::fromLatin1(mode));
        ASSERT_NE(button, nullptr) << mode;
        button->click();
        WidgetHarness::settle();
        EXPECT_EQ(labelTexts(&sheet, QStringLiteral("archiveFailure")), QStringList{L("无法读取或写入本机档案。")}) << mode;
        EXPECT_EQ(labelTexts(&sheet, QStringLiteral("archiveEmptyTitle")), QStringList{L("没有匹配的本机记录")}) << mode;
        EXPECT_FALSE(sheet.findChild<QPushButton *>(QStringLiteral("archiveClear"))->isEnabled()) << mode;
    }
    // Disabled, the clear button is not drawn in its destructive red.
    const QPalette clear = sheet.findChild<QPushButton *>(QStringLiteral("archiveClear"))->palette();
    EXPECT_NE(clear.color(QPalette::Disabled, QPalette::ButtonText), clear.color(QPalette::Active, QPalette::ButtonText));
}

TEST(ArchiveView, SessionsShowTheirConnectionFiguresAndClearingEmptiesTheArchive)
{
    WidgetHarness harness;
    ListeningArchive &archive = *harness.store->archive();
    const qint64 played = archive.begin(QStringLiteral("s1"), QStringLiteral("Played"), 2, Date{t0});
    archive.checkpoint(played, Date{t0 + 1}, Date{t0 + 2}, 3725, 2048000, 1000, 0.4567, false);
    const qint64 never = archive.begin(QStringLiteral("s2"), QStringLiteral("Never"), 0, Date{t0 + 10});
    archive.checkpoint(never, std::nullopt, Date{t0 + 10}, 0, 0, 0, std::nullopt, false);
    const qint64 broken = archive.begin(QStringLiteral("s3"), QStringLiteral("Broken"), 1, Date{t0 + 20});
    archive.checkpoint(broken, Date{t0 + 21}, Date{t0 + 30}, 60, 1024, 8, 1.0, true);

    ArchiveView view(harness.store.get());
    view.show();
    view.findChild<QPushButton *>(QStringLiteral("archiveSessionsMode"))->click();
    const auto rows = visibleChildren<QWidget>(&view, QStringLiteral("archiveSessionRow"));
    ASSERT_EQ(rows.size(), 3u);
    const QStringList broke = labelTexts(rows[0], QStringLiteral("archiveDetail"));
    EXPECT_EQ(labelTexts(rows[0], QStringLiteral("archiveSecondary")).last(), L("连接失败或中断"));
    const QStringList never_ = labelTexts(rows[1], QStringLiteral("archiveDetail"));
    EXPECT_EQ(never_.size(), 2); // no first-audio line
    EXPECT_TRUE(never_[1].contains(QStringLiteral(" 0.0 KiB/s"))) << never_[1].toStdString();
    EXPECT_EQ(labelTexts(rows[1], QStringLiteral("archiveSecondary")).last(), L("未开始播放"));
    EXPECT_EQ(labelTexts(rows[2], QStringLiteral("archiveDetail")),
              (QStringList{L10n::format(QStringLiteral("实际播放 %@ · 重连第 %@ 次"),
                                        {QStringLiteral("1 hr, 2 min, 5 sec"), QStringLiteral("2")}),
                           L10n::format(QStringLiteral("接收 %@ · 均速 %@ KiB/s"),
                                        {QStringLiteral("2 MB"), QStringLiteral("2.0")}),
                           L10n::format(QStringLiteral("首批音频 %@ 秒"), {QStringLiteral("0.46")})}));
    EXPECT_EQ(labelTexts(rows[2], QStringLiteral("archiveSecondary")).size(), 1); // the date only
    EXPECT_EQ(broke.size(), 3);

    // Clearing asks first; "Cancel" keeps everything, "Clear" empties the archive.
    auto *clear = view.findChild<QPushButton *>(QStringLiteral("archiveClear"));
    ASSERT_TRUE(clear->isEnabled());
    clear->click();
    auto *box = view.findChild<QMessageBox *>(QStringLiteral("archiveClearConfirmation"));
    ASSERT_TRUE(box);
    box->findChild<QPushButton *>(QStringLiteral("archiveClearCancel"))->click();
    WidgetHarness::settle();
    EXPECT_EQ(visibleChildren<QWidget>(&view, QStringLiteral("archiveSessionRow")).size(), 3u);
    clear->click();
    box = nullptr;
    for (QMessageBox *b : view.findChildren<QMessageBox *>(QStringLiteral("archiveClearConfirmation")))
        if (b->isVisible())
            box = b;
    ASSERT_TRUE(box);
    box->findChild<QPushButton *>(QStringLiteral("archiveClearConfirm"))->click();
    EXPECT_TRUE(archive.entries(false, QString(), std::nullopt, 10).empty());
    // Nothing was searched for: the archive is simply empty.
    EXPECT_EQ(labelTexts(&view, QStringLiteral("archiveEmptyTitle")), QStringList{L("还没有本机记录")});
}

TEST(ScheduleView, AddsReplacesAndRemovesTimesThroughTheStore)
{
    std::vector<Station> catalog = testCatalog();
    catalog[2].name = QStringLiteral("Z100 - New York's #1 Hit Music Station WHTZ and Its Sister Stations Across the Area");
    WidgetHarness harness(catalog);
    RadioStore &store = *harness.store;
    store.setSelected(std::nullopt);
    ScheduleView view(&store, QDateTime(QDate(2026, 3, 2), QTime(7, 5, 42)), true);
    view.show();
    auto *form = view.findChild<QWidget *>(QStringLiteral("scheduleForm"));
    auto *hint = view.findChild<QLabel *>(QStringLiteral("scheduleHint"));
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(hint->isVisible());
    EXPECT_FALSE(view.findChild<QWidget *>(QStringLiteral("scheduleList"))->isVisible());

    // A station the store cannot start gets the hint, not the form.
    Station plain = harness.find(QStringLiteral("s3"));
    plain.streamUrl = QStringLiteral("http://radio.example.org/s3");
    store.setSelected(plain);
    WidgetHarness::settle();
    EXPECT_FALSE(form->isVisible());

    store.setSelected(harness.find(QStringLiteral("s1")));
    WidgetHarness::settle();
    ASSERT_TRUE(form->isVisible());
    EXPECT_FALSE(hint->isVisible());
    auto *add = view.findChild<StudioButton *>(QStringLiteral("scheduleAdd"));
    add->click();
    WidgetHarness::settle();
    EXPECT_EQ(labelTexts(&view, QStringLiteral("scheduleRowLabel"), true), QStringList{QStringLiteral("07:05 · ") + L("工作日")});
    EXPECT_EQ(labelTexts(&view, QStringLiteral("scheduleRowStation"), true), QStringList{QStringLiteral("Station 1")});

    // The same minute for another station, every day, replaces it; an earlier time goes first.
    store.setSelected(harness.find(QStringLiteral("s2")));
    WidgetHarness::settle();
    view.findChild<ToggleSwitch *>(QStringLiteral("scheduleWorkdays"))->click();
    add->click();
    view.findChild<QTimeEdit *>(QStringLiteral("scheduleTime"))->setTime(QTime(6, 30));
    add->click();
    WidgetHarness::settle();
    EXPECT_EQ(labelTexts(&view, QStringLiteral("scheduleRowLabel"), true),
              (QStringList{QStringLiteral("06:30 · ") + L("每天"), QStringLiteral("07:05 · ") + L("每天")}));
    EXPECT_EQ(labelTexts(&view, QStringLiteral("scheduleRowStation"), true),
              (QStringList{QStringLiteral("Station 2"), QStringLiteral("Station 2")}));

    // A station gone from the catalog still lists and can be removed, with its mark.
    std::vector<ListeningTime> schedule = store.schedule();
    const ListeningTime gone{QUuid::createUuid(), QStringLiteral("gone"), 23, 59, false};
    schedule.push_back(gone);
    harness.probe->setSchedule(schedule);
    const QString mark = QStringLiteral("lastSlot.") + gone.id.toString(QUuid::WithoutBraces).toUpper();
    harness.settings->setValue(mark, 1.0);
    WidgetHarness::settle();
    EXPECT_EQ(labelTexts(&view, QStringLiteral("scheduleRowStation"), true).last(), L("已移除的电台"));
    visibleChildren<QToolButton>(&view, QStringLiteral("scheduleRemove")).back()->click();
    WidgetHarness::settle();
    EXPECT_EQ(store.schedule().size(), 2u);
    EXPECT_EQ(labelTexts(&view, QStringLiteral("scheduleRowStation"), true).size(), 2);
    EXPECT_FALSE(harness.settings->value(mark));

    // A name longer than the sheet is wide is cut short, in the form and in
    // its row, and the sheet keeps its width and the row its remove button.
    const int width = view.width();
    store.setSelected(harness.find(QStringLiteral("s3")));
    WidgetHarness::settle();
    view.findChild<QTimeEdit *>(QStringLiteral("scheduleTime"))->setTime(QTime(8, 0));
    add->click();
    WidgetHarness::settle();
    auto *formName = view.findChild<FitLabel *>(QStringLiteral("scheduleStation"));
    const auto rows = visibleChildren<FitLabel>(&view, QStringLiteral("scheduleRowStation"));
    ASSERT_EQ(rows.size(), 3u);
    for (FitLabel *name : {formName, rows.back()}) {
        EXPECT_EQ(name->text(), catalog[2].name);
        EXPECT_TRUE(name->fittedLines().value(0).endsWith(QChar(0x2026)));
    }
    EXPECT_EQ(view.width(), width);
    QWidget *remove = visibleChildren<QToolButton>(&view, QStringLiteral("scheduleRemove")).back();
    EXPECT_LE(remove->mapTo(&view, QPoint(remove->width(), 0)).x(), width);

    // Return closes the sheet.
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_FALSE(view.isVisible());
}
