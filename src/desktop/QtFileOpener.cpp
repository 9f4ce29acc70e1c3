// SPDX-License-Identifier: MIT
#include "desktop/QtFileOpener.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace drainwatch {

namespace {

// xdg-open's exit codes, from its manual.
QString xdgOpenFailure(int exitCode)
{
    switch (exitCode) {
    case 2:
        return QObject::tr("the file is gone");
    case 3:
        return QObject::tr("xdg-open lacks a tool it needs to open files on this desktop");
    case 4:
        return QObject::tr("no application is set up to open text files (xdg-open found none)");
    default:
        return QObject::tr("xdg-open failed (exit code %1)").arg(exitCode);
    }
}

} // namespace

bool QtFileOpener::open(const std::string& path)
{
    const QString file = QString::fromStdString(path);
    problem_.clear();
    if (!QFileInfo(file).isFile()) {
        problem_ = tr("the file does not exist");
        return false;
    }
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty()) {
        problem_ = tr("no program to open files is installed (xdg-open, in the package xdg-utils)");
        return false;
    }
    // Not waited for: xdg-open may stay until the viewer closes. Killed with
    // this process at the end, it leaves the viewer open.
    auto* process = new QProcess(this);
    process->setProgram(program);
    process->setArguments({file});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(process, &QProcess::finished, this, [this, process](int exitCode, QProcess::ExitStatus status) {
        process->deleteLater();
        if (status == QProcess::CrashExit)
            emit failed(tr("xdg-open crashed"));
        else if (exitCode != 0)
            emit failed(xdgOpenFailure(exitCode));
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        emit failed(tr("xdg-open could not be started (%1)").arg(process->errorString()));
    });
    process->start();
    return true;
}

} // namespace drainwatch
