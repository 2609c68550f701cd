// Launching programs.
#include "platform/launch.h"

#include <QProcess>
#include <QStringList>

namespace qm::platform {

namespace {
QStringList Args(const std::vector<std::string>& args) {
    QStringList list;
    for (const std::string& a : args) list << QString::fromStdString(a);
    return list;
}
}  // namespace

bool OpenWithDefaultBrowser(const std::string& address, std::string& error) {
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), QStringList{QString::fromStdString(address)})) {
        error = "could not run xdg-open";
        return false;
    }
    return true;
}

bool StartProgram(const std::string& program, const std::vector<std::string>& args, std::string& error) {
    if (program.empty() || !QProcess::startDetached(QString::fromStdString(program), Args(args))) {
        error = "could not run " + program;
        return false;
    }
    return true;
}

bool RunForOutput(const std::string& program, const std::vector<std::string>& args, std::string& output, int timeoutMs,
                  std::size_t maxBytes) {
    output.clear();
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QString::fromStdString(program), Args(args));
    if (!p.waitForStarted(timeoutMs)) return false;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    QByteArray out = p.readAllStandardOutput().left(static_cast<qsizetype>(maxBytes));
    output.assign(out.constData(), static_cast<std::size_t>(out.size()));
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace qm::platform
