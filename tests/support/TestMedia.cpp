#include "support/TestMedia.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <cmath>

namespace vantuli::test {

namespace {

QMutex &cacheLock()
{
    static QMutex lock;
    return lock;
}

QString mediaFolder()
{
    static const QString folder = temporaryFolder();
    return folder;
}

QHash<QString, QString> &made()
{
    static QHash<QString, QString> paths;
    return paths;
}

const char *spokenText =
    "Good evening, and welcome to the late programme. Tonight we travel along the coast, "
    "from the old harbour to the lighthouse on the northern cliffs. The weather stays calm, "
    "with a light breeze from the west and clear skies after midnight.";

QString speechFile()
{
    QMutexLocker guard(&cacheLock());
    const QString name = QStringLiteral("speech.wav");
    if (made().contains(name))
        return made().value(name);
    const QString path = QDir(mediaFolder()).filePath(name);
    const int code = run(QStringLiteral("espeak-ng"),
                         {QStringLiteral("-s"), QStringLiteral("165"), QStringLiteral("-w"), path,
                          QString::fromLatin1(spokenText)});
    const QString answer = code == 0 && QFile::exists(path) ? path : QString();
    made().insert(name, answer);
    return answer;
}

QStringList fromSpeech(const QStringList &encoding)
{
    const QString source = speechFile();
    if (source.isEmpty())
        return {};
    return QStringList{QStringLiteral("-i"), source} + encoding;
}

} // namespace

QString makeMedia(const QString &name, const QStringList &arguments)
{
    {
        QMutexLocker guard(&cacheLock());
        if (made().contains(name))
            return made().value(name);
    }
    const QString path = QDir(mediaFolder()).filePath(name);
    QString answer;
    if (!arguments.isEmpty()) {
        const QStringList all = QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")}
            + arguments + QStringList{path};
        if (run(QStringLiteral("ffmpeg"), all) == 0 && QFile::exists(path))
            answer = path;
    }
    QMutexLocker guard(&cacheLock());
    made().insert(name, answer);
    return answer;
}

QString writeMedia(const QString &name, const QByteArray &bytes)
{
    QMutexLocker guard(&cacheLock());
    if (made().contains(name))
        return made().value(name);
    const QString path = QDir(mediaFolder()).filePath(name);
    QFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    file.close();
    made().insert(name, written ? path : QString());
    return written ? path : QString();
}

QByteArray readMedia(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString mediaFile(Media media)
{
    const QString mp3 = QStringLiteral("libmp3lame");
    switch (media) {
    case Media::speech:
        return speechFile();
    case Media::mp3:
        return makeMedia(QStringLiteral("speech.mp3"),
                         fromSpeech({"-ar", "44100", "-ac", "2", "-c:a", mp3, "-b:a", "128k", "-write_xing", "0",
                                     "-id3v2_version", "0"}));
    case Media::mp3WithId3:
        return makeMedia(QStringLiteral("speech-id3.mp3"),
                         fromSpeech({"-ar", "44100", "-ac", "2", "-c:a", mp3, "-b:a", "128k", "-write_xing", "0",
                                     "-id3v2_version", "3", "-metadata", "title=Late programme", "-metadata",
                                     "artist=Harbour Radio"}));
    case Media::mp3Cut: {
        const QByteArray whole = readMedia(mediaFile(Media::mp3));
        if (whole.size() < 20000)
            return {};
        // 10007 bytes lands inside a frame (frames are 417 or 418 bytes long).
        return writeMedia(QStringLiteral("speech-cut.mp3"), whole.mid(10007));
    }
    case Media::aac44:
        return makeMedia(QStringLiteral("speech-44.aac"),
                         fromSpeech({"-ar", "44100", "-ac", "2", "-c:a", "aac", "-b:a", "128k", "-f", "adts"}));
    case Media::aac48:
        return makeMedia(QStringLiteral("speech-48.aac"),
                         fromSpeech({"-ar", "48000", "-ac", "2", "-c:a", "aac", "-b:a", "128k", "-f", "adts"}));
    case Media::aac22Mono:
        return makeMedia(QStringLiteral("speech-22-mono.aac"),
                         fromSpeech({"-ar", "22050", "-ac", "1", "-c:a", "aac", "-b:a", "48k", "-f", "adts"}));
    case Media::opus:
        return makeMedia(QStringLiteral("speech.opus"),
                         fromSpeech({"-ar", "48000", "-ac", "2", "-c:a", "libopus", "-b:a", "64k", "-f", "ogg"}));
    case Media::flac:
        return makeMedia(QStringLiteral("speech.flac"),
                         fromSpeech({"-ar", "44100", "-ac", "2", "-c:a", "flac", "-f", "flac"}));
    }
    return {};
}

qint64 MediaFacts::frames() const
{
    if (codec == u"mp3" || codec == u"aac")
        return packets * codecFrame();
    return qint64(std::llround(duration * sampleRate));
}

qint64 MediaFacts::codecFrame() const
{
    if (codec == u"mp3")
        return 1152;
    if (codec == u"aac")
        return 1024;
    if (codec == u"opus")
        return 960;
    if (codec == u"flac")
        return 4608;
    return 2048;
}

MediaFacts probeMedia(const QString &path)
{
    MediaFacts facts;
    QByteArray output;
    const int code = run(QStringLiteral("ffprobe"),
                         {"-v", "error", "-select_streams", "a:0", "-count_packets", "-show_entries",
                          "stream=codec_name,sample_rate,channels,nb_read_packets:format=duration", "-of",
                          "default=noprint_wrappers=1", path},
                         &output);
    if (code != 0)
        return facts;
    for (const QByteArray &line : output.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if (key == "codec_name")
            facts.codec = QString::fromLatin1(value);
        else if (key == "sample_rate")
            facts.sampleRate = value.toInt();
        else if (key == "channels")
            facts.channels = value.toInt();
        else if (key == "nb_read_packets")
            facts.packets = value.toLongLong();
        else if (key == "duration")
            facts.duration = value.toDouble();
    }
    return facts;
}

} // namespace vantuli::test
