#pragma once

// The panel as an operator starts it, offscreen, with COM1 assigned to a device text (the
// gateway's shared line); what it would show in its warning box is recorded instead.
#include <QByteArray>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "app/form1.h"
#include "link/reconnecting_port.h"
#include "link/timers.h"
#include "models/model.h"

namespace e2e {

struct PanelOnLine {
    explicit PanelOnLine(const QString& com1)
        : form(models::kTR27K, std::make_unique<serial::ReconnectingPort>(), timers,
               [this](const std::string& text) { warnings.push_back(text); }) {
        qputenv("PROJECTOR_COM1", com1.toUtf8());
        form.guarded([this] { form.Form_Load(); });
        qunsetenv("PROJECTOR_COM1");
        form.show();
    }

    QtTimerSource timers;
    std::vector<std::string> warnings;
    Form1 form;
};

}  // namespace e2e
