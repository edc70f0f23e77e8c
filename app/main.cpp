#include <QApplication>

#include "app/form1.h"
#include "app/start.h"
#include "common/quit_on_signal.h"
#include "link/reconnecting_port.h"
#include "link/timers.h"
#include "models/model.h"
#include "panel/widgets.h"

#ifndef PANEL_MODEL
#error "PANEL_MODEL names the model table of this program"
#endif
#ifndef PANEL_DESKTOP_ENTRY
#error "PANEL_DESKTOP_ENTRY names the desktop entry of this program"
#endif

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    panel::chooseFaces();
    const models::Model& model = models::PANEL_MODEL;
    QApplication::setApplicationName(QString::fromUtf8(model.program.data(), qsizetype(model.program.size())));
    QGuiApplication::setDesktopFileName(QStringLiteral(PANEL_DESKTOP_ENTRY));

    QtTimerSource timers;
    Form1 form(model, std::make_unique<serial::ReconnectingPort>(), timers);
    quitOnTerminationSignals(&form);
    startPanel(form, serial::PortAssignment::system());
    form.show();
    form.controls().find("Command17")->setFocus();
    const int status = terminationRequested() ? 0 : app.exec();
    // However the loop ended, the window's shut-down closes the port.
    if (form.isVisible()) form.close();
    return status;
}
