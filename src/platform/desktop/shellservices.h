// The desktop services the main window reaches, handed to it as one bundle so that tests can
// give it scriptable doubles and the program the Qt implementations.
#pragma once

#include "platform/desktop/busycursor.h"
#include "platform/desktop/desktoplauncher.h"
#include "platform/desktop/filedialogs.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/settingsstore.h"
#include "platform/desktop/shellfolders.h"

// Refers to services owned elsewhere; they must outlive every user of the bundle.
struct CShellServices {
    ISettingsStore& settings;
    IMessageBoxes& messageBoxes;
    IFileDialogs& fileDialogs;
    IBusyCursor& busyCursor;
    IDesktopLauncher& launcher;
    IShellFolders& shellFolders;
};
