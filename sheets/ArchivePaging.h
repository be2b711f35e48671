#pragma once

// The archive sheet's model, without widgets: the filter a load is made with,
// the paged reading of the listening archive (100 rows a page, keyed by row
// id), the rules that turn a newest-first stream of caption rows into caption
// blocks and paragraphs, and the text a block's copy puts on the clipboard.
// Everything runs synchronously on the caller's (the main) thread; an archive
// error never leaves this class: it only sets `failed`.

#include "records/Date.h"
#include "records/ListeningArchive.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace vantuli {

// What a load is made with: the mode and the trimmed search text.
struct ArchiveFilter {
    bool captions = true;
    QString query;

    bool operator==(const ArchiveFilter &) const = default;
};

// One listening stretch of one station: the captions between two block
// splits, in paragraphs of at most eight captions.
struct ArchiveCaptionBlock {
    struct Paragraph {
        qint64 id = 0; // the row id of the paragraph's newest caption
        QString text;  // the captions, oldest first

        bool operator==(const Paragraph &) const = default;
    };

    qint64 id = 0;   // the row id of the block's newest caption
    QString station; // the station name stored with that caption's session
    Date date;       // the recognition time of the block's oldest loaded caption
    std::vector<Paragraph> paragraphs; // newest first

    bool operator==(const ArchiveCaptionBlock &) const = default;

    // Walks caption rows (newest first) into `blocks`. `after` is the newer
    // neighbour of the first row (the last row of the previous page). With
    // `extendLastOnly` the walk only adds paragraphs to the last block and
    // stops at the first split. Answers how many rows were used. Throws what
    // the archive's separation test throws.
    static size_t append(const std::vector<ListeningArchive::Entry> &entries,
                         const std::optional<ListeningArchive::Entry> &after, std::vector<ArchiveCaptionBlock> &blocks,
                         ListeningArchive &archive, bool extendLastOnly);

    // Whether the older caption `older` no longer belongs to the block of the
    // newer caption `newer`: another station, more than 30 minutes apart, or
    // another station's playback in between.
    static bool splits(const ListeningArchive::Entry &newer, const ListeningArchive::Entry &older,
                       ListeningArchive &archive);

    // Whether one space goes between the paragraph text so far (`after`) and
    // the caption text being added (`before`), of the given language. No space
    // between CJK captions unless an ASCII letter or digit meets them.
    static bool needsSpace(const QString &before, const QString &after, const std::optional<QString> &language);
};

class ArchivePaging {
public:
    static constexpr int pageSize = 100;
    static constexpr double blockGap = 1800.0;

    // Gives the archive to read at the moment of each load or copy; null when
    // there is none.
    using ArchiveSource = std::function<ListeningArchive *()>;

    explicit ArchivePaging(ArchiveSource archive);

    // ---- View state ----
    bool captions() const { return captions_; }
    void setCaptions(bool captions) { captions_ = captions; }
    const QString &query() const { return query_; }
    void setQuery(const QString &query) { query_ = query; }

    const std::vector<ArchiveCaptionBlock> &blocks() const { return blocks_; }
    const std::optional<ListeningArchive::Entry> &lastCaption() const { return lastCaption_; }
    const std::vector<ListeningArchive::Entry> &rows() const { return rows_; }
    const std::optional<ArchiveFilter> &loadedFilter() const { return loadedFilter_; }
    const std::optional<qint64> &scrollToParagraph() const { return scrollToParagraph_; }
    bool hasMore() const { return hasMore_; }
    bool failed() const { return failed_; }
    void setFailed(bool failed) { failed_ = failed; }

    // The mode and the query trimmed of white space at both ends.
    ArchiveFilter filter() const;
    // The shown content was not loaded with the current filter (a search edit
    // is waiting for its reload): load-more and copy refuse.
    bool stale() const { return !loadedFilter_ || *loadedFilter_ != filter(); }

    // `more` false: the first page for the current filter replaces what the
    // current mode shows. `more` true: the next page of the loaded filter is
    // added (nothing happens while the filter is stale).
    void load(bool more);

    // The text of a whole block, paragraphs oldest first with an empty line
    // between them. For the last loaded block while more rows exist, the
    // block's older captions beyond the loaded pages are read first. Nothing
    // when the filter is stale or there is no archive; nothing and `failed`
    // on an archive error.
    std::optional<QString> copyText(const ArchiveCaptionBlock &block);

private:
    ArchiveSource archive_;
    bool captions_ = true;
    QString query_;
    std::vector<ArchiveCaptionBlock> blocks_;
    std::optional<ListeningArchive::Entry> lastCaption_;
    std::optional<ArchiveFilter> loadedFilter_;
    std::optional<qint64> scrollToParagraph_;
    std::vector<ListeningArchive::Entry> rows_;
    bool hasMore_ = false;
    bool failed_ = false;
};

} // namespace vantuli
