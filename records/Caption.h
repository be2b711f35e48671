#pragma once

#include <QString>
#include <QUuid>

namespace vantuli {

// One recognised caption; times are seconds on the stream's clock (the run's
// 16 kHz sample clock divided by 16000). `end` is never before `start` and
// never past the end of the window it came from.
struct Caption {
    QUuid id;
    QString text;
    double start = 0;
    double end = 0;

    // Captions are not produced for these languages at all (Bengali).
    static bool isDeferred(const QString &language);
};

} // namespace vantuli
