#include "sheets/ArchivePaging.h"

#include <QTextBoundaryFinder>

#include <limits>
#include <utility>

namespace vantuli {

namespace {

using Entry = ListeningArchive::Entry;

// The first or last user-perceived character of a text; absent for an empty text.
std::optional<QString> firstCharacter(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    const qsizetype end = finder.toNextBoundary();
    return text.left(end > 0 ? end : text.size());
}

std::optional<QString> lastCharacter(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    const qsizetype start = finder.toPreviousBoundary();
    return text.mid(start >= 0 ? start : 0);
}

// CJK punctuation, kana and the ideographs up to extension A; full-width
// forms, Hangul and later ideographs do not count.
bool isCJK(const std::optional<QString> &character)
{
    if (!character)
        return false;
    for (const char32_t scalar : character->toUcs4())
        if ((scalar >= 0x3000 && scalar <= 0x30FF) || (scalar >= 0x3400 && scalar <= 0x9FFF))
            return true;
    return false;
}

bool isASCIILetterOrDigit(const std::optional<QString> &character)
{
    if (!character || character->size() != 1)
        return false;
    const char16_t c = character->at(0).unicode();
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
}

} // namespace

// ---- Block rules ----

bool ArchiveCaptionBlock::needsSpace(const QString &before, const QString &after,
                                     const std::optional<QString> &language)
{
    const std::optional<QString> b = firstCharacter(before);
    const std::optional<QString> a = lastCharacter(after);
    const bool chineseOrJapanese = language && (*language == QLatin1String("zh") || *language == QLatin1String("ja"));
    if (!chineseOrJapanese && !(isCJK(b) && isCJK(a)))
        return true;
    return isASCIILetterOrDigit(b) || isASCIILetterOrDigit(a);
}

bool ArchiveCaptionBlock::splits(const Entry &newer, const Entry &older, ListeningArchive &archive)
{
    const double gap = newer.date.secondsSince1970 - older.date.secondsSince1970;
    if (!newer.stationID)
        return older.stationID.has_value() || gap > ArchivePaging::blockGap;
    if (!older.stationID || *older.stationID != *newer.stationID || gap > ArchivePaging::blockGap)
        return true;
    // Captions of non-adjacent sessions of one station: another station's
    // playback in between ends the stretch. (The archive answers false for
    // the same or adjacent sessions without a query.)
    if (newer.sessionID && older.sessionID)
        return archive.separatesCaptions(newer, older);
    return false;
}

size_t ArchiveCaptionBlock::append(const std::vector<Entry> &entries, const std::optional<Entry> &after,
                                   std::vector<ArchiveCaptionBlock> &blocks, ListeningArchive &archive,
                                   bool extendLastOnly)
{
    std::vector<const Entry *> pending; // newest first
    const Entry *previous = after ? &*after : nullptr;

    // Joins the pending captions, oldest first, into a paragraph of the last block.
    const auto flush = [&] {
        if (pending.empty() || blocks.empty())
            return;
        QString text;
        for (auto it = pending.rbegin(); it != pending.rend(); ++it) {
            const Entry &caption = **it;
            if (!caption.text || caption.text->isEmpty())
                continue;
            if (!text.isEmpty() && needsSpace(*caption.text, text, caption.language))
                text += QLatin1Char(' ');
            text += *caption.text;
        }
        ArchiveCaptionBlock &block = blocks.back();
        block.paragraphs.push_back(Paragraph{pending.front()->id, std::move(text)});
        block.date = pending.back()->date;
        pending.clear();
    };

    size_t used = 0;
    for (const Entry &entry : entries) {
        if (!previous || splits(*previous, entry, archive)) {
            flush();
            if (extendLastOnly)
                return used;
            blocks.push_back(ArchiveCaptionBlock{entry.id, entry.station, entry.date, {}});
        }
        pending.push_back(&entry);
        if (pending.size() == 8)
            flush();
        previous = &entry;
        ++used;
    }
    flush();
    return used;
}

// ---- Paging ----

ArchivePaging::ArchivePaging(ArchiveSource archive) : archive_(std::move(archive)) {}

ArchiveFilter ArchivePaging::filter() const
{
    return ArchiveFilter{captions_, query_.trimmed()};
}

void ArchivePaging::load(bool more)
{
    const ArchiveFilter f = filter();
    if (more && stale())
        return;
    ListeningArchive *archive = archive_ ? archive_() : nullptr;
    if (!archive)
        return;

    std::optional<qint64> before;
    if (more) {
        if (f.captions && lastCaption_)
            before = lastCaption_->id;
        else if (!f.captions && !rows_.empty())
            before = rows_.back().id;
    }

    try {
        std::vector<Entry> read = archive->entries(f.captions, f.query, before, pageSize + 1);
        const bool moreRows = read.size() > static_cast<size_t>(pageSize);
        if (moreRows)
            read.resize(pageSize);

        if (f.captions) {
            std::vector<ArchiveCaptionBlock> working = more ? blocks_ : std::vector<ArchiveCaptionBlock>{};
            const size_t blockCount = working.size();
            const size_t paragraphCount = blockCount > 0 ? working.back().paragraphs.size() : 0;
            ArchiveCaptionBlock::append(read, more ? lastCaption_ : std::nullopt, working, *archive, false);

            std::optional<qint64> scroll;
            if (more && blockCount > 0 && working[blockCount - 1].paragraphs.size() > paragraphCount)
                scroll = working[blockCount - 1].paragraphs[paragraphCount].id;
            scrollToParagraph_ = scroll;
            blocks_ = std::move(working);
            if (!read.empty())
                lastCaption_ = read.back();
            else if (!more)
                lastCaption_.reset();
        } else if (more) {
            rows_.insert(rows_.end(), std::make_move_iterator(read.begin()), std::make_move_iterator(read.end()));
        } else {
            rows_ = std::move(read);
        }
        loadedFilter_ = f;
        hasMore_ = moreRows;
        failed_ = false;
    } catch (...) {
        // The archive could not be read: what is shown stays as it was.
        failed_ = true;
    }
}

std::optional<QString> ArchivePaging::copyText(const ArchiveCaptionBlock &block)
{
    if (stale())
        return std::nullopt;
    ListeningArchive *archive = archive_ ? archive_() : nullptr;
    if (!archive)
        return std::nullopt;

    std::vector<ArchiveCaptionBlock> working{block};
    if (!blocks_.empty() && blocks_.back().id == block.id && hasMore_) {
        // The block may go on beyond the loaded pages: read it to its start,
        // page by page, stopping at its first split.
        const QString query = filter().query;
        std::optional<Entry> cursor = lastCaption_;
        try {
            while (cursor) {
                const std::vector<Entry> page = archive->entries(true, query, cursor->id, pageSize);
                const size_t used = ArchiveCaptionBlock::append(page, cursor, working, *archive, true);
                const bool split = used < page.size();
                cursor = used > 0 ? std::optional<Entry>(page[used - 1]) : std::nullopt;
                if (split || page.empty() || page.size() < static_cast<size_t>(pageSize))
                    break;
            }
        } catch (...) {
            failed_ = true;
            return std::nullopt;
        }
    }

    const std::vector<ArchiveCaptionBlock::Paragraph> &paragraphs = working.front().paragraphs;
    QString text;
    for (auto it = paragraphs.rbegin(); it != paragraphs.rend(); ++it) {
        if (it != paragraphs.rbegin())
            text += QLatin1String("\n\n");
        text += it->text;
    }
    return text;
}

} // namespace vantuli
