// The application's resources: identifiers kept from its resource script, the icon and the
// string table.
#pragma once

#include <QIcon>
#include <QString>

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_CLIP_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;

// The window-menu command that opens the About box. Window-menu commands keep their low four
// bits for the system, so any of 0x10 to 0x1F means this command.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;

// The application icon (IDR_MAINFRAME) at every size it is drawn in.
QIcon LoadApplicationIcon();

// The text of string resource nId; empty when there is no such string.
QString LoadResourceString(int nId);

// The help page, relative to the folder of help pages.
inline constexpr char16_t kHelpTopicPath[] = u"help/Introduction.htm";

// Where the help page is, given the executable's folder (with its final separator): beside the
// executable (the build tree, or a copy unpacked into one folder) when it is there, else in the
// installed data folder (<prefix>/share/tarnwick for <prefix>/bin/tarnwick) when it is there,
// else beside the executable, where the viewer then reports it missing.
QString LocateHelpPage(const QString& strExecutableFolder);

// The maker's home page.
inline constexpr char16_t kHomePageAddress[] = u"https://quellbrook.example/index.htm";
