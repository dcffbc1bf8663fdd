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

// The options Qt's applications take from the command line themselves; none of them is ours.
bool IsToolkitOption(const QString& strArg) {
    static const QStringList kOptions{u"platform"_s,      u"platformpluginpath"_s,
                                      u"platformtheme"_s, u"plugin"_s,
                                      u"qmljsdebugger"_s, u"qwindowgeometry"_s,
                                      u"qwindowicon"_s,   u"qwindowtitle"_s,
                                      u"reverse"_s,       u"session"_s,
                                      u"display"_s,       u"geometry"_s,
                                      u"style"_s,         u"stylesheet"_s,
                                      u"widgetcount"_s,   u"nograb"_s,
                                      u"dograb"_s,        u"sync"_s,
                                      u"name"_s,          u"title"_s,
                                      u"visual"_s,        u"ncols"_s,
                                      u"cmap"_s,          u"im"_s,
                                      u"inputstyle"_s,    u"fn"_s,
                                      u"font"_s,          u"bg"_s,
                                      u"background"_s,    u"fg"_s,
                                      u"foreground"_s,    u"btn"_s,
                                      u"button"_s,        u"testability"_s};
    QString strName = strArg.mid(strArg.startsWith(u"--"_s) ? 2 : 1);
    strName = strName.left(strName.indexOf(u'='));
    return kOptions.contains(strName);
}

}  // namespace

CStartCommand ParseStartCommand(const QStringList& args, const QString& strProgram,
                                const QString& strVersion, const QString& strCwd,
                                EStartReading reading) {
    const bool bBeforeDisplay = reading == EStartReading::kBeforeDisplay;
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
            if (bBeforeDisplay && IsToolkitOption(arg)) {
                continue;
            }
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
    if (!files.isEmpty() && !bBeforeDisplay) {
        command.m_strFile = LocalPath(files.front(), strCwd);
        command.m_nIgnoredFiles = static_cast<int>(files.size()) - 1;
    }
    return command;
}
