#pragma once

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

// The frame the window system draws around a top-level window: caption bar and borders.
//
// Under X the window manager's own record of it (_NET_FRAME_EXTENTS) is read each time it is
// asked for. Qt keeps a copy that it refreshes only on a configure event, so while the window
// manager is still taking the window in, the copy can stay empty, or hold the half-made
// offsets of a window between reparentings, for as long as nothing else moves the window.
// Elsewhere, and under a window manager that keeps no such record, Qt's frame is used.
class WindowFrame : public QObject {
    Q_OBJECT
public:
    // `changed` runs, from the event loop, whenever the window manager announces a new frame
    // for `window` (under X; other window systems announce nothing, see current()).
    WindowFrame(QWidget* window, std::function<void()> changed);
    ~WindowFrame() override;

    // The frame as it is known now; null while unknown (or where there is none).
    QMargins current() const;
    // Qt's idea of the frame, for when the window manager never tells: under X, one that
    // keeps no record of its frames.
    QMargins qtFrame() const;

private:
    class XWatch;
    QPointer<QWidget> window_;
    std::unique_ptr<XWatch> xwatch_;
};
