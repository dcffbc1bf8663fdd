// The program's desktop services: the Qt implementation of each, owned together.
#pragma once

#include "platform/desktop/qtbusycursor.h"
#include "platform/desktop/qtdesktoplauncher.h"
#include "platform/desktop/qtfiledialogs.h"
#include "platform/desktop/qtmessageboxes.h"
#include "platform/desktop/qtsettingsstore.h"
#include "platform/desktop/qtshellfolders.h"
#include "platform/desktop/shellservices.h"

class CQtShellServices {
public:
    CQtShellServices() = default;
    CQtShellServices(const CQtShellServices&) = delete;
    CQtShellServices& operator=(const CQtShellServices&) = delete;

    CShellServices Services();

private:
    CQtSettingsStore m_settings;
    CQtMessageBoxes m_messageBoxes;
    CQtFileDialogs m_fileDialogs;
    CQtBusyCursor m_busyCursor;
    CQtDesktopLauncher m_launcher;
    CQtShellFolders m_shellFolders;
};
