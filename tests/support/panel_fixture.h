#pragma once

#include <QAbstractButton>
#include <memory>
#include <string>
#include <vector>

#include "app/form1.h"
#include "models/model.h"
#include "panel/widgets.h"
#include "tests/support/fake_port.h"
#include "tests/support/virtual_clock.h"

// A window on the virtual clock and a fake port, loaded as at start. Warnings are recorded
// instead of shown.
struct PanelFixture {
    explicit PanelFixture(const models::Model& model = models::kTR27K, bool load = true) {
        auto owned = std::make_unique<FakePort>();
        port = owned.get();
        form = std::make_unique<Form1>(model, std::move(owned), clock,
                                       [this](const std::string& text) { warnings.push_back(text); });
        if (load) form->guarded([this] { form->Form_Load(); });
    }

    QWidget* control(std::string_view name) const { return form->controls().find(name); }
    QAbstractButton* button(std::string_view name) const {
        return qobject_cast<QAbstractButton*>(control(name));
    }
    panel::PanelButton* key(std::string_view name) const {
        return qobject_cast<panel::PanelButton*>(control(name));
    }
    // A click as the operator makes it: through the button's own signal.
    void click(std::string_view name) const { button(name)->click(); }

    const std::string& txd() const { return form->Label11->text(); }
    const std::string& rxd() const { return form->Label12->text(); }
    const std::string& status() const { return form->Label22->text(); }
    int period(int timer) const { return form->timer(timer).interval(); }
    bool running(int timer) const { return form->timer(timer).enabled(); }

    // Forgets what start-up wrote, so a test sees only its own traffic.
    void clearTraffic() {
        port->written.clear();
        port->writes.clear();
        port->log.clear();
    }

    VirtualClock clock;
    FakePort* port = nullptr;
    std::vector<std::string> warnings;
    std::unique_ptr<Form1> form;
};
