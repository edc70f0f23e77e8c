#include "app/start.h"

#include "app/form1.h"

void startPanel(Form1& form, const serial::PortAssignment& assignment) {
    if (const std::string unread = serial::unreadSettings(assignment); !unread.empty())
        form.warn(unread);
    form.guarded([&form] { form.Form_Load(); });
}
