#include "Process.h"

#include <QEventLoop>
#include <QFileInfo>

namespace platform {

bool RunAndWait(const QString& program, const QStringList& arguments, const QString& workingFolder,
                bool* crashed) {
    if (crashed)
        *crashed = false;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(workingFolder.isEmpty() ? QFileInfo(program).absolutePath()
                                                        : workingFolder);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return false;
    WaitPainting(process);
    if (crashed)
        *crashed = process.exitStatus() == QProcess::CrashExit;
    return true;
}

void WaitPainting(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        // A crash also ends the wait through finished; other errors mean no process is left.
        if (e != QProcess::Crashed && process.state() == QProcess::NotRunning)
            loop.quit();
    });
    if (process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace platform
