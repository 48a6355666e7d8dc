#include "StatusPanes.h"

#include <QDateTime>
#include <QGuiApplication>

#ifdef Q_OS_WIN
#include <windows.h>
#elif defined(QUARVEL_HAVE_X11) && QT_CONFIG(xcb)
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

namespace quarvel {

std::optional<bool> numLockState()
{
#ifdef Q_OS_WIN
    return (GetKeyState(VK_NUMLOCK) & 1) != 0;
#elif defined(QUARVEL_HAVE_X11) && QT_CONFIG(xcb)
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display)
        return std::nullopt;
    static const Atom numLock = XInternAtom(display, "Num Lock", False);
    Bool on = False;
    if (!XkbGetNamedIndicator(display, numLock, nullptr, &on, nullptr, nullptr))
        return std::nullopt;
    return on != False;
#else
    return std::nullopt;
#endif
}

NumLockPane::NumLockPane(QWidget* parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    connect(&m_timer, &QTimer::timeout, this, &NumLockPane::refresh);
    if (numLockState()) {
        m_timer.start(250);
        refresh();
    }
}

void NumLockPane::refresh()
{
    setText(numLockState().value_or(false) ? QStringLiteral("NUM") : QString());
}

ClockPane::ClockPane(QWidget* parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
    connect(&m_timer, &QTimer::timeout, this, &ClockPane::refresh);
    m_timer.start(1000);
    refresh();
}

QString ClockPane::format()
{
    return QStringLiteral("yyyy-MM-dd hh:mm:ss");
}

void ClockPane::refresh()
{
    setText(QDateTime::currentDateTime().toString(format()));
}

} // namespace quarvel
