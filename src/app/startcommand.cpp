#include "app/startcommand.h"

#include <QDir>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

QString Usage(const QString& strProgram) {
    return u"Usage: %1 [FILE]\n"
           u"Cut MPEG program streams (.mpg, .mpeg, .vob) without re-encoding.\n"
           u"\n"
           u"With FILE, the window starts with that file opened, as Open MPEG opens it.\n"
           u"\n"
           u"  -h, --help     show this help and exit\n"
           u"      --version  show the version and exit\n"
           u"\n"
           u"The same cuts run from scripts with %1-cli.\n"_s.arg(strProgram);
}

// A file manager may hand over a file: URL; anything else is a path.
QString LocalPath(const QString& strArg, const QString& strCwd) {
    if (strArg.startsWith(u"file:"_s)) {
        const QUrl url(strArg);
        if (url.isLocalFile()) {
            return url.toLocalFile();
        }
    }
    return QDir::cleanPath(QDir(strCwd).absoluteFilePath(strArg));
}

}  // namespace

CStartCommand ParseStartCommand(const QStringList& args, const QString& strProgram,
                                const QString& strVersion, const QString& strCwd) {
    CStartCommand command;
    bool bOptionsEnded = false;
    QStringList files;
    QString strUnknown;
    for (const QString& arg : args) {
        if (!bOptionsEnded && arg == u"--"_s) {
            bOptionsEnded = true;
        } else if (!bOptionsEnded && (arg == u"--help"_s || arg == u"-h"_s)) {
            return {CStartCommand::kHelp, {}, Usage(strProgram), 0};
        } else if (!bOptionsEnded && arg == u"--version"_s) {
            return {CStartCommand::kVersion, {}, u"%1 %2\n"_s.arg(strProgram, strVersion), 0};
        } else if (!bOptionsEnded && arg.size() > 1 && arg.startsWith(u'-')) {
            if (strUnknown.isEmpty()) {
                strUnknown = arg;
            }
        } else if (!arg.isEmpty()) {
            files << arg;
        }
    }
    if (!strUnknown.isEmpty()) {
        command.m_action = CStartCommand::kError;
        command.m_strText =
            u"%1: unknown option %2\nTry '%1 --help'.\n"_s.arg(strProgram, strUnknown);
        return command;
    }
    if (!files.isEmpty()) {
        command.m_strFile = LocalPath(files.front(), strCwd);
        command.m_nIgnoredFiles = static_cast<int>(files.size()) - 1;
    }
    return command;
}
