#include "session/outcome.h"

#include <QJsonValue>
#include <cmath>

#include "engine/display_form.h"
#include "engine/status.h"

namespace session {

namespace {

// The panel's RXD when Timer2 ends a reply window in which nothing arrived.
constexpr auto kNoReply = " X X X X";

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Bytes off the line, one character each (byte 0xE9 is U+00E9).
QString characters(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

double tenths(double ms) {
    return std::round(ms * 10) / 10;
}

}  // namespace

std::string receivedDisplay(const Outcome& outcome) {
    return outcome.reply.empty() ? kNoReply : engine::displayForm(outcome.reply);
}

std::optional<std::string> statusOf(const Outcome& outcome, const models::Model& model) {
    if (outcome.reply.empty()) return std::nullopt;
    return engine::decodeStatus(outcome.sent, "", engine::displayForm(outcome.reply),
                                model.lampMode);
}

QJsonObject outcomeObject(const Outcome& outcome, const models::Model& model) {
    const std::optional<std::string> status = statusOf(outcome, model);
    return QJsonObject{
        {QStringLiteral("command"), text(outcome.code)},
        {QStringLiteral("sent"), text(engine::displayForm(outcome.sent))},
        {QStringLiteral("reply"), characters(outcome.reply)},
        {QStringLiteral("display"), text(receivedDisplay(outcome))},
        {QStringLiteral("status"),
         status ? QJsonValue(text(*status)) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("ok"), outcome.ok},
        {QStringLiteral("refused"), outcome.refused},
        {QStringLiteral("ms"), tenths(outcome.ms)},
    };
}

QJsonObject unclaimedObject(const Unclaimed& unclaimed) {
    return QJsonObject{
        {QStringLiteral("unclaimed"), characters(unclaimed.bytes)},
        {QStringLiteral("display"), text(engine::displayForm(unclaimed.bytes))},
        {QStringLiteral("after"), unclaimed.after.empty() ? QJsonValue(QJsonValue::Null)
                                                          : QJsonValue(text(unclaimed.after))},
        {QStringLiteral("ms"), tenths(unclaimed.ms)},
    };
}

}  // namespace session
