// The Start commands of the three modes: the clip cut, equal pieces and pieces by length.
#include "ui/clipdlg.h"

void CClipDlg::OnCutStart() {
    // Not implemented yet: does nothing until the split engine is connected.
}

void CClipDlg::OnSplitBySizeStart() {
    // Not implemented yet: does nothing until the split engine is connected.
}

void CClipDlg::OnSplitByTimeStart() {
    // Not implemented yet: does nothing until the split engine is connected.
}
