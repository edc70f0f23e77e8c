#include "ctl/report.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/display_form.h"
#include "engine/shown_text.h"
#include "engine/status.h"
#include "session/outcome.h"
#include "tables/buttons.h"
#include "tables/names.h"

namespace ctl {

namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string timingClass(const panel::NamedButton& b) {
    if (b.holdKey) return "hold-" + std::to_string(panel::repeatPeriodMs(*b.holdKey));
    switch (b.button->timing) {
        case panel::Timing::Plain:
            return "plain";
        case panel::Timing::Timed2000:
            return "timed-2000";
        case panel::Timing::Timed5000:
            return "timed-5000";
        case panel::Timing::Menu:
            return "menu";
    }
    return "";
}

std::string padded(std::string s, std::size_t width) {
    s.resize(std::max(width, s.size() + 1), ' ');
    return s;
}

}  // namespace

std::string plainLine(const session::Outcome& outcome, const models::Model& model,
                      const std::string* port) {
    std::string line = port ? engine::shownText(*port) + "\t" : std::string();
    line += engine::displayForm(outcome.sent);
    line += '\t';
    line += session::receivedDisplay(outcome);
    line += '\t';
    line += session::statusOf(outcome, model).value_or("");
    return line;
}

std::string jsonLine(const session::Outcome& outcome, const models::Model& model,
                     const std::string& port) {
    QJsonObject object = session::outcomeObject(outcome, model);
    object.insert(QStringLiteral("port"), text(port));
    return compact(object);
}

std::string jsonLine(const session::Unclaimed& unclaimed, const std::string& port) {
    QJsonObject object = session::unclaimedObject(unclaimed);
    object.insert(QStringLiteral("port"), text(port));
    return compact(object);
}

std::string unclaimedNote(const session::Unclaimed& unclaimed, const std::string& port) {
    std::string note =
        engine::shownText(port) + ": \"" + engine::displayForm(unclaimed.bytes) + "\" ";
    if (unclaimed.after.empty())
        return note + "came while no command was out: taken for no command.";
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.0f", unclaimed.ms);
    return note + "came " + ms + " ms after " + unclaimed.after +
           " was sent, outside its reply: taken for no command.";
}

bool flushed(std::ostream& out, std::ostream& err) {
    errno = 0;
    out.flush();
    if (out) return true;
    const int error = errno;
    err << "projectorctl: the output could not be written"
        << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << '\n'
        << std::flush;
    return false;
}

std::string listText(const models::Model& model, bool json) {
    const std::vector<panel::NamedButton> buttons = panel::namedButtons(model);
    std::size_t nameWidth = 0, codeWidth = 0;
    for (const panel::NamedButton& b : buttons) {
        nameWidth = std::max(nameWidth, b.name.size() + 2);
        codeWidth = std::max(codeWidth, b.command().size() + 2);
    }
    std::string out;
    for (const panel::NamedButton& b : buttons) {
        if (json) {
            QJsonObject object{
                {QStringLiteral("name"), text(b.name)},
                {QStringLiteral("code"), text(b.command())},
                {QStringLiteral("timing"), text(timingClass(b))},
                {QStringLiteral("window_ms"),
                 b.button ? panel::replyWindowMs(b.button->timing) : panel::kReplyWindowMs},
            };
            if (b.holdKey)
                object.insert(QStringLiteral("repeat_ms"), panel::repeatPeriodMs(*b.holdKey));
            out += compact(object);
        } else {
            out += padded(b.name, nameWidth) + padded(std::string(b.command()), codeWidth) +
                   timingClass(b);
        }
        out += '\n';
    }
    return out;
}

std::string portsText(const std::vector<serial::Adapter>& adapters, bool json) {
    std::string out;
    for (const serial::Adapter& a : adapters) {
        if (json) {
            out += compact(QJsonObject{
                {QStringLiteral("path"), text(a.path)},
                {QStringLiteral("stable_name"), text(a.stableName)},
                {QStringLiteral("description"), text(a.description)},
                {QStringLiteral("serial_number"), text(a.serialNumber)},
            });
        } else {
            // What the adapters say of themselves comes from their firmware.
            out += engine::shownText(a.path) + "\t" + engine::shownText(a.stableName) + "\t" +
                   engine::shownText(a.description) + "\t" + engine::shownText(a.serialNumber);
        }
        out += '\n';
    }
    return out;
}

OrderedLines::OrderedLines(std::size_t ports, Print print)
    : print_(std::move(print)), waiting_(ports), finished_(ports, false) {}

void OrderedLines::add(std::size_t port, std::string line) {
    if (port == current_)
        print_(line);
    else
        waiting_[port].push_back(std::move(line));
}

void OrderedLines::finished(std::size_t port) {
    finished_[port] = true;
    flush();
}

void OrderedLines::flush() {
    while (current_ < finished_.size() && finished_[current_]) {
        ++current_;
        if (current_ == finished_.size()) break;
        for (const std::string& line : waiting_[current_]) print_(line);
        waiting_[current_].clear();
    }
}

}  // namespace ctl
