#include "records/Date.h"

#include <chrono>
#include <cmath>

namespace vantuli {

Date Date::now()
{
    using namespace std::chrono;
    const auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return Date{static_cast<double>(us) / 1e6};
}

QDateTime Date::toQDateTime() const
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(secondsSince1970 * 1000.0)), Qt::UTC);
}

} // namespace vantuli
