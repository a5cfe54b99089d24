#pragma once
// Running a helper program to its end while the windows stay painted.
#include <QProcess>
#include <QString>
#include <QStringList>

namespace platform {

// Starts program with the arguments (each passed as it is: blanks in a path need no quotes),
// with workingFolder (the program's own folder when empty) as its working directory, and waits
// for it with WaitPainting. True when the process was started (it has ended by then); false
// when it could not be started. Its exit code is not judged here. There is no time-out. When
// crashed is given, it tells whether the process was ended by a signal (a crash) rather than
// by exiting.
bool RunAndWait(const QString& program, const QStringList& arguments,
                const QString& workingFolder = QString(), bool* crashed = nullptr);

// Waits until the process has ended. Meanwhile paint events, timers and events posted by other
// threads are handled, while keyboard and mouse input stays queued and is handled afterwards.
void WaitPainting(QProcess& process);

} // namespace platform
