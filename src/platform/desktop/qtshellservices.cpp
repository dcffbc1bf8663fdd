#include "platform/desktop/qtshellservices.h"

CShellServices CQtShellServices::Services() {
    return {m_settings, m_messageBoxes, m_fileDialogs, m_busyCursor, m_launcher, m_shellFolders};
}
