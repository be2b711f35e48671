#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace vantuli {

// The application's windows by id ("main", "about", "support"): each id has
// at most one window, made on first request and brought forward on every
// later one. Nothing is opened unless asked for.
class WindowRegistry : public QObject {
    Q_OBJECT

public:
    using Factory = std::function<QWidget *()>;

    explicit WindowRegistry(QObject *parent = nullptr);
    ~WindowRegistry() override;

    void add(const QString &id, Factory make);
    // Shows the window of the id (making it when there is none), raises and
    // activates it. Null for an unknown id.
    QWidget *open(const QString &id);
    // The window of the id while it exists, else null.
    QWidget *window(const QString &id) const;

private:
    QHash<QString, Factory> factories_;
    QHash<QString, QPointer<QWidget>> windows_;
};

} // namespace vantuli
