// The Open MPEG command: choosing, probing and opening a source.
#include "ui/clipdlg.h"

void CClipDlg::OnOpenMpeg() {
    // Not implemented yet: does nothing until the source probe and the preview exist.
}
