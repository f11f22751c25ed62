#pragma once
// Lets the window react to events of objects it does not subclass (its own pages, itself as
// the platform minimises it) with a function of its own, kept apart from the key filters.

#include <QObject>
#include <functional>
#include <utility>

class TEventHook : public QObject {
public:
    // Returns true to stop the event.
    using Filter = std::function<bool(QObject* watched, QEvent* event)>;

    TEventHook(const QString& name, Filter filter, QObject* parent) : QObject(parent), filter_(std::move(filter))
    {
        setObjectName(name);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override { return filter_(watched, event); }

private:
    Filter filter_;
};
