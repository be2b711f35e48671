#include "platform/TextFolding.h"

#include <algorithm>

namespace vantuli::TextFolding {

QString fold(const QString &text)
{
    // Plain ASCII decomposes to itself and has no marks: only its case folds.
    const bool ascii = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        return text.toLower();
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(decomposed.size());
    for (QChar c : decomposed) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        out.append(c);
    }
    return out.toCaseFolded();
}

} // namespace vantuli::TextFolding
