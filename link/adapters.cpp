#include "link/adapters.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>
#include <map>

namespace serial {

namespace {

// The names in `folder`, by the device each leads to.
std::map<QString, QString> stableNames(const std::string& folder) {
    std::map<QString, QString> names;
    const QDir dir(QString::fromStdString(folder));
    // Devices are "system" files to QDir; the names are links to them.
    for (const QFileInfo& link : dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString device = link.canonicalFilePath();
        if (!device.isEmpty()) names.emplace(device, link.absoluteFilePath());
    }
    return names;
}

}  // namespace

std::string stableNameOf(const std::string& device, const std::string& folder) {
    const QString target = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
    if (target.isEmpty()) return {};
    const std::map<QString, QString> names = stableNames(folder);
    const auto found = names.find(target);
    return found == names.end() ? std::string() : found->second.toStdString();
}

std::vector<Adapter> findAdapters() {
    const std::map<QString, QString> names = stableNames(kStableNameFolder);
    std::vector<Adapter> adapters;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        Adapter adapter;
        adapter.path = info.systemLocation().toStdString();
        const auto name = names.find(info.systemLocation());
        if (name != names.end()) adapter.stableName = name->second.toStdString();
        adapter.description = info.description().toStdString();
        adapter.serialNumber = info.serialNumber().toStdString();
        adapter.usb = info.hasVendorIdentifier();
        adapters.push_back(std::move(adapter));
    }
    sortAdapters(adapters);
    return adapters;
}

void sortAdapters(std::vector<Adapter>& adapters) {
    QCollator collator;
    collator.setNumericMode(true);
    auto key = [](const Adapter& a) {
        return QString::fromStdString(a.usb && !a.stableName.empty() ? a.stableName : a.path);
    };
    std::stable_sort(adapters.begin(), adapters.end(), [&](const Adapter& a, const Adapter& b) {
        if (a.usb != b.usb) return a.usb;
        return collator.compare(key(a), key(b)) < 0;
    });
}

std::string deviceTextOf(const Adapter& adapter) {
    return adapter.stableName.empty() ? adapter.path : adapter.stableName;
}

std::string describeAdapters(const std::vector<Adapter>& adapters) {
    if (adapters.empty()) return "No serial adapters were found.";
    std::string text = "Serial adapters found:";
    for (const Adapter& a : adapters) {
        text += "\n  " + a.path;
        std::string about = a.description;
        if (!a.serialNumber.empty()) about += (about.empty() ? "" : ", ") + ("serial number " + a.serialNumber);
        if (!about.empty()) text += ": " + about;
        if (!a.stableName.empty()) text += "\n    " + a.stableName;
    }
    return text;
}

}  // namespace serial
