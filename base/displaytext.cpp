#include "base/displaytext.h"

QString withoutDirectionControls(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if ((code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069))
            continue;
        shown.append(c);
    }
    return shown;
}
