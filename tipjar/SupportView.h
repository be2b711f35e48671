#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace vantuli {

class Refresher;
class SupportCatalog;

// The tip jar: a short request for support, one button per tip product, and
// the state of a running or pending purchase. The content of the "support"
// window and of the main window's sheet; "完成" emits done(), and whoever
// shows the view closes it. Loads the products when shown, cancels the load
// when hidden.
class SupportView : public QWidget {
    Q_OBJECT

public:
    explicit SupportView(SupportCatalog *catalog, QWidget *parent = nullptr);
    ~SupportView() override;

signals:
    void done();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void rebuild();

    SupportCatalog *catalog_;
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

} // namespace vantuli
