#pragma once

#include <QDateTime>
#include <QDialog>

class QLabel;
class QPushButton;
class QScrollArea;
class QTimeEdit;
class QVBoxLayout;

namespace vantuli {

class FitLabel;
class RadioStore;
class Refresher;
class StudioButton;
class StudioSheetHeading;
class ToggleSwitch;

// The schedule sheet: lists, removes and adds the times at which a station
// starts by itself. Window-modal, 472 px wide and as tall as its content.
// Times are stored and replaced only through the store.
class ScheduleView : public QDialog {
    Q_OBJECT
public:
    ScheduleView(RadioStore *radio, QDateTime time, bool workdays, QWidget *parent = nullptr);
    ~ScheduleView() override;

    // The picker's value (only its hour and minute count) and the switch.
    QDateTime time() const { return time_; }
    bool workdays() const { return workdays_; }

private:
    void buildTexts();
    void applyScheme();
    void refresh();
    void add();

    RadioStore *radio_;
    QDateTime time_;
    bool workdays_;

    StudioSheetHeading *heading_ = nullptr;
    QLabel *explanation_ = nullptr;
    QScrollArea *list_ = nullptr;
    QVBoxLayout *rows_ = nullptr;
    QWidget *listDivider_ = nullptr;
    QWidget *form_ = nullptr;
    FitLabel *formStation_ = nullptr;
    QLabel *timeLabel_ = nullptr;
    QTimeEdit *timeEdit_ = nullptr;
    QLabel *workdaysLabel_ = nullptr;
    ToggleSwitch *workdaysSwitch_ = nullptr;
    StudioButton *add_ = nullptr;
    QLabel *hint_ = nullptr;
    QPushButton *done_ = nullptr;
    Refresher *refresher_ = nullptr;
};

} // namespace vantuli
