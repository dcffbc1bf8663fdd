// Reading an integer typed into a dialog field.
#pragma once

#include <optional>

#include <QString>

// The integer at the start of strText: at most its first 63 characters are looked at; leading
// white space is skipped, then an optional sign and decimal digits are read and whatever
// follows is ignored, so "12abc" reads 12 and " 7" reads 7. Nothing when there are no digits
// ("", "abc", "-") or the number does not fit in 32 bits.
std::optional<int> ParseDialogInteger(const QString& strText);
