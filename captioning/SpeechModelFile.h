#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace vantuli {

// Checks of a speech-model file before it is handed to the speech library,
// which keeps every byte it allocated when a load fails half-way: a damaged
// file must never get that far, and never twice.
namespace SpeechModelFile {

// Whether the file is a whole model in the library's format: the header, the
// mel filters and the vocabulary are all there, every tensor's data lies
// within the file, and there are as many tensors as the header's layer counts
// call for. Reads only the headers (the file is mapped, not loaded).
bool isComplete(const QString &path);

// Which version of a file was tried: its path, size and modification time.
struct Identity {
    QString path;
    qint64 size = -1;
    QDateTime modified;

    bool operator==(const Identity &) const = default;
    static std::optional<Identity> of(const QString &path); // nothing when there is no such file
};

} // namespace SpeechModelFile

} // namespace vantuli
