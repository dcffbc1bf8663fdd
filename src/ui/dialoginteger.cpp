#include "ui/dialoginteger.h"

#include <limits>

std::optional<int> ParseDialogInteger(const QString& strText) {
    const QStringView text = QStringView(strText).left(63);
    qsizetype i = 0;
    auto isSpace = [](QChar ch) {
        return ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\v' || ch == u'\f' ||
               ch == u'\r';
    };
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    bool bNegative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        bNegative = text[i] == u'-';
        ++i;
    }
    const qsizetype nFirstDigit = i;
    long long llValue = 0;
    constexpr long long llLimit = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
        llValue = llValue * 10 + (text[i].unicode() - u'0');
        // A number beyond 32 bits would come back as some other number; refuse it instead.
        if (llValue > llLimit) {
            return std::nullopt;
        }
        ++i;
    }
    if (i == nFirstDigit) {
        return std::nullopt;
    }
    if (bNegative) {
        llValue = -llValue;
    }
    if (llValue > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(llValue);
}
