// SPDX-License-Identifier: MIT
#include "activity/ActivityRecorder.h"

#include "activity/AppsText.h"

#include <cmath>

namespace drainwatch {

ActivityRecorder::ActivityRecorder(const Clock& clock, ActivitySource& source, ActivityStore& store)
    : clock_(clock), source_(source), store_(store)
{
    if (auto latest = store_.latestModel())
        model_ = *latest;
    if (!model_.determined()) {
        model_.minutes = learnedMinutes(store_, clock_.now());
        minutesSinceFit_ = kRefitMinutes;
    }
}

int learnedMinutes(const ActivityStore& store, double now)
{
    int count = 0;
    for (const ModelMinute& minute :
         store.minutes(now - ActivityRecorder::kFittedSeconds, now + ActivityRecorder::kReadSeconds))
        count += minute.seconds >= ActivityRecorder::kShortestLearnedSeconds;
    return count;
}

void ActivityRecorder::readableTick(bool onBattery, std::optional<double> watts, bool missedHeartbeat)
{
    const double now = clock_.now();
    const bool measurable = onBattery && watts && std::isfinite(*watts) && *watts >= 0;
    if (spanStart_) {
        const double seconds = now - lastTick_;
        // A clock set back or a tick that came late holds time not measured.
        if (missedHeartbeat || seconds < 0 || seconds > kLongestTickSeconds) {
            spanStart_.reset();
        } else if (!measurable) {
            // The power of this last interval is not known (the charger came
            // in it, or the battery misread): the last known one holds it, as
            // a read of the activity can only be had now.
            spanEnergyWh_ += lastWatts_ * seconds / 3600;
            closeSpan();
            spanStart_.reset();
        } else {
            spanEnergyWh_ += *watts * seconds / 3600;
            if (now - spanStart_->time >= kReadSeconds)
                closeSpan();
        }
    }
    if (measurable)
        lastWatts_ = *watts;
    if (!spanStart_ && measurable) {
        spanStart_ = source_.read();
        spanEnergyWh_ = 0;
    }
    lastTick_ = now;
}

void ActivityRecorder::willSleep()
{
    if (spanStart_)
        closeSpan();
    spanStart_.reset();
}

void ActivityRecorder::processEnding()
{
    willSleep();
    store_.flush();
}

void ActivityRecorder::closeSpan()
{
    ActivitySnapshot end = source_.read();
    const ActivityInterval interval = activityBetween(*spanStart_, end);
    if (interval.seconds > 0) {
        store_.add(spanStart_->time, interval, spanEnergyWh_);
        recent_.push_back({end.time, interval, spanEnergyWh_});
        if (interval.seconds >= kShortestLearnedSeconds)
            ++minutesSinceFit_;
        if (!model_.determined())
            model_.minutes += interval.seconds >= kShortestLearnedSeconds ? 1 : 0;
    }
    spanStart_ = std::move(end);
    spanEnergyWh_ = 0;
    // Written about every ten minutes, as the samples are.
    if (store_.waiting() >= kSpansPerFlush)
        store_.flush();
    const double now = clock_.now();
    if (!lastRetention_ || now - *lastRetention_ >= 86400 || now < *lastRetention_) {
        lastRetention_ = now;
        store_.deleteOlderThan(now - kKeptSeconds);
    }
    refitIfDue(now);
    while (!recent_.empty() && (recent_.front().end < now - kTopSeconds || recent_.front().end > now))
        recent_.pop_front();
    SpanActivity lastMinutes;
    for (const RecentSpan& span : recent_)
        addInterval(lastMinutes, span.interval, span.energyWh);
    topApplication_ = drainwatch::topApplication(model_, lastMinutes);
}

void ActivityRecorder::refitIfDue(double now)
{
    const bool due = model_.determined() ? now - model_.fittedAt >= kRefitSeconds || now < model_.fittedAt
                                         : model_.minutes >= kMinutesToLearn && minutesSinceFit_ >= kRefitMinutes;
    if (!due)
        return;
    std::vector<ModelMinute> minutes;
    for (const ModelMinute& minute : store_.minutes(now - kFittedSeconds, now + kReadSeconds))
        if (minute.seconds >= kShortestLearnedSeconds)
            minutes.push_back(minute);
    PowerModel fitted = fitPowerModel(minutes, now);
    minutesSinceFit_ = 0;
    if (fitted.determined()) {
        model_ = fitted;
        store_.addModel(model_);
    } else if (!model_.determined()) {
        model_ = fitted;
    }
}

} // namespace drainwatch
