#pragma once

#include <QLabel>
#include <QTimer>
#include <optional>

namespace quarvel {

// The Num Lock state where the platform tells it: Windows' key state, X11's keyboard
// indicators; nothing elsewhere (Wayland, offscreen).
std::optional<bool> numLockState();

// Status pane showing "NUM" while Num Lock is on. It polls, since no platform sends an event for
// a lock key toggled in another window.
class NumLockPane : public QLabel
{
    Q_OBJECT
public:
    explicit NumLockPane(QWidget* parent = nullptr);

private:
    void refresh();
    QTimer m_timer;
};

// Status pane with a live clock, "yyyy-MM-dd hh:mm:ss".
class ClockPane : public QLabel
{
    Q_OBJECT
public:
    explicit ClockPane(QWidget* parent = nullptr);
    static QString format();

private:
    void refresh();
    QTimer m_timer;
};

} // namespace quarvel
