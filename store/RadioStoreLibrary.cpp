// The listener's library: favourite stations (kept in the settings store),
// the listening history and the stations that failed on this machine (kept
// in the archive's local state). Every change is saved at once and the
// directory list recomputed, since three tabs list these and two hide failures.
#include "store/RadioStore.h"
#include "store/StoreKeys.h"

#include "platform/SettingsStore.h"

#include <algorithm>

namespace vantuli {

namespace {

constexpr size_t historyLimit = 100;

} // namespace

void RadioStore::favorite(const Station &station)
{
    QSet<QString> favorites = favorites_;
    QStringList order = favoriteOrder_;
    if (favorites.contains(station.id)) {
        favorites.remove(station.id);
        order.removeAll(station.id);
    } else {
        favorites.insert(station.id);
        order.prepend(station.id);
    }
    publish(favorites_, std::move(favorites), &RadioStore::favoritesChanged);
    publish(favoriteOrder_, std::move(order), &RadioStore::favoriteOrderChanged);
    defaults_->setValue(storekeys::favorites, favoriteOrder_);
    refreshDirectory();
}

void RadioStore::recordListening(const Station &station, Date date)
{
    const auto found = std::find_if(history_.begin(), history_.end(),
                                    [&station](const ListeningRecord &r) { return r.stationID == station.id; });
    std::vector<ListeningRecord> history;
    history.reserve(historyLimit);
    history.push_back(ListeningRecord{station.id, date, found != history_.end() ? found->visits + 1 : 1});
    for (const ListeningRecord &record : history_) {
        if (history.size() >= historyLimit)
            break;
        if (record.stationID != station.id)
            history.push_back(record);
    }
    publish(history_, std::move(history), &RadioStore::historyChanged);
    saveHistory();
}

void RadioStore::saveHistory()
{
    if (archive_) {
        try {
            archive_->save(history_, storekeys::recentRow);
        } catch (const std::exception &) {
            setArchiveFailed(true);
        }
    }
    refreshDirectory();
}

void RadioStore::clearHistory()
{
    publish(history_, std::vector<ListeningRecord>{}, &RadioStore::historyChanged);
    saveHistory();
}

void RadioStore::removeFromHistory(const Station &station)
{
    std::vector<ListeningRecord> history = history_;
    std::erase_if(history, [&station](const ListeningRecord &r) { return r.stationID == station.id; });
    publish(history_, std::move(history), &RadioStore::historyChanged);
    saveHistory();
}

void RadioStore::setUnavailable(bool unavailable, const Station &station)
{
    Failures failures = failures_;
    if (unavailable) {
        failures.insert_or_assign(station.id, StationFailure{station.streamUrl, clock_->now()});
    } else if (failures.erase(station.id) == 0) {
        return; // nothing was marked: nothing to save or recompute
    }
    publish(failures_, std::move(failures), &RadioStore::failuresChanged);
    if (archive_) {
        try {
            archive_->save(failures_, storekeys::failuresRow);
        } catch (const std::exception &) {
            setArchiveFailed(true);
        }
    }
    refreshDirectory();
}

} // namespace vantuli
