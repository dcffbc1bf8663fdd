// The desktop program's command line: `tarnwick [FILE]`, with --help and --version as desktop
// programs have them. Read twice: before the display is opened, so --help and --version work
// without one, and after Qt has taken its own options, for the file.
#pragma once

#include <QString>
#include <QStringList>

struct CStartCommand {
    enum EAction {
        kRun,      // start the window, with m_strFile opened when it is not empty
        kHelp,     // print m_strText to standard output and exit 0
        kVersion,  // the same
        kError     // print m_strText to standard error and exit 2
    };
    EAction m_action = kRun;
    QString m_strFile;  // absolute, or a file: URL made local; empty for none
    QString m_strText;
    // Set when more than one file was named: the first is opened, and the user is told so.
    int m_nIgnoredFiles = 0;
};

// The first reading, before the display is opened, leaves the toolkit's own options
// (-platform, -display, -style, ..., with one dash or two) and any value after them to the
// toolkit and reads no file: it gives help, the version or an error, else kRun. The second
// reading comes after the toolkit has taken its options.
enum class EStartReading { kBeforeDisplay, kAfterToolkit };

// args without the program's name. --help (-h) and --version win wherever they stand; "--"
// ends the options. strProgram and strVersion name the program in the texts; strCwd makes a
// relative file absolute.
CStartCommand ParseStartCommand(const QStringList& args, const QString& strProgram,
                                const QString& strVersion, const QString& strCwd,
                                EStartReading reading = EStartReading::kAfterToolkit);
