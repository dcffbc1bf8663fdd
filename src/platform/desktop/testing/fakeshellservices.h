// Every desktop service as a double, owned together, for tests and screenshot tools.
#pragma once

#include "platform/desktop/shellservices.h"
#include "platform/desktop/testing/fakebusycursor.h"
#include "platform/desktop/testing/fakedesktoplauncher.h"
#include "platform/desktop/testing/fakefiledialogs.h"
#include "platform/desktop/testing/fakemessageboxes.h"
#include "platform/desktop/testing/fakesettingsstore.h"
#include "platform/desktop/testing/fakeshellfolders.h"

class CFakeShellServices {
public:
    CFakeShellServices() = default;
    CFakeShellServices(const CFakeShellServices&) = delete;
    CFakeShellServices& operator=(const CFakeShellServices&) = delete;

    CShellServices Services() {
        return {settings, messageBoxes, fileDialogs, busyCursor, launcher, shellFolders};
    }

    CFakeSettingsStore settings;
    CFakeMessageBoxes messageBoxes;
    CFakeFileDialogs fileDialogs;
    CFakeBusyCursor busyCursor;
    CFakeDesktopLauncher launcher;
    CFakeShellFolders shellFolders;
};
