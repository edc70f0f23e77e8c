#include "link/device_path.h"

#include <QByteArray>
#include <QtGlobal>

namespace serial {

std::string devicePathFor(int n) {
    const QByteArray variable = "PROJECTOR_COM" + QByteArray::number(n);
    const QByteArray fromEnvironment = qgetenv(variable.constData());
    if (!fromEnvironment.isEmpty()) return fromEnvironment.toStdString();
#ifdef Q_OS_WIN
    return "COM" + std::to_string(n);
#else
    return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

}  // namespace serial
