#include "captioning/SpeechModelFile.h"

#include <QFile>
#include <QFileInfo>

#include <ggml.h>

#include <cstdint>
#include <cstring>
#include <limits>

namespace vantuli::SpeechModelFile {

namespace {

// A cursor over the mapped file that fails instead of reading past its end.
class Reader {
public:
    Reader(const uchar *data, qint64 size) : data_(data), size_(size) {}

    bool i32(std::int32_t &value)
    {
        if (size_ - at_ < qint64(sizeof value))
            return false;
        std::memcpy(&value, data_ + at_, sizeof value);
        at_ += qint64(sizeof value);
        return true;
    }
    bool skip(qint64 bytes)
    {
        if (bytes < 0 || size_ - at_ < bytes)
            return false;
        at_ += bytes;
        return true;
    }
    bool atEnd() const { return at_ == size_; }

private:
    const uchar *data_;
    qint64 size_;
    qint64 at_ = 0;
};

// The tensors of a model with these layer counts: 5 + 2 around the encoder's
// layers of 15 each, 2 + 2 around the decoder's layers of 24 each.
qint64 expectedTensors(std::int32_t audioLayers, std::int32_t textLayers)
{
    return 11 + 15 * qint64(audioLayers) + 24 * qint64(textLayers);
}

bool walk(Reader &in)
{
    constexpr std::int32_t fileMagic = 0x67676d6c; // "ggml"
    std::int32_t magic = 0;
    if (!in.i32(magic) || magic != fileMagic)
        return false;
    std::int32_t hparams[11] = {};
    for (std::int32_t &value : hparams) {
        if (!in.i32(value))
            return false;
    }
    const std::int32_t audioLayers = hparams[4];
    const std::int32_t textLayers = hparams[8];
    if (hparams[0] <= 0 || audioLayers <= 0 || textLayers <= 0 || audioLayers > 1024 || textLayers > 1024)
        return false;

    std::int32_t mels = 0;
    std::int32_t fft = 0;
    if (!in.i32(mels) || !in.i32(fft) || mels < 0 || fft < 0 || mels > 65536 || fft > 65536
        || !in.skip(qint64(mels) * fft * qint64(sizeof(float))))
        return false;

    std::int32_t words = 0;
    if (!in.i32(words) || words < 0)
        return false;
    for (std::int32_t i = 0; i < words; ++i) {
        std::int32_t length = 0;
        if (!in.i32(length) || length < 0 || !in.skip(length))
            return false;
    }

    qint64 tensors = 0;
    while (!in.atEnd()) {
        std::int32_t dims = 0;
        std::int32_t nameLength = 0;
        std::int32_t type = 0;
        if (!in.i32(dims) || !in.i32(nameLength) || !in.i32(type))
            return false;
        if (dims < 1 || dims > 4 || nameLength < 1 || nameLength > 4096 || type < 0 || type >= GGML_TYPE_COUNT)
            return false;
        const auto ggmlType = ggml_type(type);
        const qint64 block = ggml_blck_size(ggmlType);
        const qint64 typeSize = qint64(ggml_type_size(ggmlType));
        if (block <= 0 || typeSize <= 0)
            return false;
        qint64 ne[4] = {1, 1, 1, 1};
        for (std::int32_t d = 0; d < dims; ++d) {
            std::int32_t n = 0;
            if (!in.i32(n) || n <= 0)
                return false;
            ne[d] = n;
        }
        if (!in.skip(nameLength) || ne[0] % block != 0)
            return false;
        // Each factor is below 2^31, so the products are checked one by one.
        qint64 bytes = ne[0] / block * typeSize;
        for (int d = 1; d < 4; ++d) {
            if (bytes > std::numeric_limits<qint64>::max() / ne[d])
                return false;
            bytes *= ne[d];
        }
        if (!in.skip(bytes))
            return false;
        ++tensors;
    }
    return tensors >= expectedTensors(audioLayers, textLayers);
}

} // namespace

bool isComplete(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0)
        return false;
    const uchar *data = file.map(0, file.size());
    if (!data)
        return false;
    Reader in(data, file.size());
    const bool whole = walk(in);
    file.unmap(const_cast<uchar *>(data));
    return whole;
}

std::optional<Identity> Identity::of(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    return Identity{info.absoluteFilePath(), info.size(), info.lastModified()};
}

} // namespace vantuli::SpeechModelFile
