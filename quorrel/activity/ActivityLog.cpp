#include <quorrel/ActivityHistory.hpp>
#include <quorrel/ActivityLog.hpp>

#include "ActivityStore.hpp"
#include "SiteNames.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <system_error>
#include <unordered_map>
#include <utility>

namespace tav {

namespace {

const auto BATCH_PERIOD = std::chrono::seconds(1);
// Hosts whose site is remembered; past this the memory starts again.
const std::size_t REMEMBERED_HOSTS = 50000;
const std::int64_t MINUTES_PER_DAY = std::int64_t{24} * 60;

} // namespace

// Runs on the log's thread: turns the queued events into day totals and has the store write them.
class ActivityLog::Writer {
public:
    explicit Writer(const Options& options)
        : m_store(options.path), m_suffixList(options.suffixList), m_keepDays(std::max(options.keepDays, 1)),
          m_now(options.now ? options.now : [] { return std::time(nullptr); }) {}

    // Writes the events, and removes the old days when the day has changed since they were last removed.
    // The status tells how many of the events were dropped.
    Status Write(std::vector<Event> events);

private:
    // The last two minutes counted, so that a few events that come out of order across a minute's end
    // still count their minute once.
    using Counted = std::array<std::int64_t, 2>;
    using RowIndex = std::unordered_map<std::string, std::size_t>;

    void AddUse(const Use& use, ActivityStore::Batch& batch, RowIndex& clientRows, RowIndex& siteRows);
    static void AddTotal(std::vector<ActivityStore::DayTotal>& totals, RowIndex& rows,
                         ActivityStore::DayTotal total);
    static bool Counts(Counted& counted, std::int64_t minute);
    void ForgetBefore(std::int64_t minute);
    const std::string& DayOf(std::time_t time);
    static std::int64_t MinuteOf(std::time_t time);
    const std::string& SiteOf(const std::string& host);

    ActivityStore m_store;
    const std::string m_suffixList;
    const int m_keepDays;
    const std::function<std::time_t()> m_now;
    // Made by the first batch, so that the log's owner never waits for the list to load.
    std::unique_ptr<SiteNames> m_sites;
    std::unordered_map<std::string, std::string> m_siteOfHost;
    std::unordered_map<std::string, Counted> m_clientMinutes;
    std::unordered_map<std::string, Counted> m_siteMinutes;
    // The local day last named, and the minute it was named for.
    std::string m_day;
    std::int64_t m_dayMinute = 0;
    // The day of `now` when the old days were last removed.
    std::string m_cleanedOn;
};

ActivityLog::Status ActivityLog::Writer::Write(std::vector<Event> events) {
    if (!m_sites)
        m_sites = std::make_unique<SiteNames>(m_suffixList);
    ActivityStore::Batch batch;
    RowIndex clientRows;
    RowIndex siteRows;
    for (Event& event : events) {
        if (const Use* use = std::get_if<Use>(&event)) {
            AddUse(*use, batch, clientRows, siteRows);
        } else if (Refusal* refusal = std::get_if<Refusal>(&event)) {
            batch.refusals.push_back({DayOf(refusal->time), std::move(*refusal)});
        } else {
            AdminEvent& admin = std::get<AdminEvent>(event);
            batch.adminEvents.push_back({DayOf(admin.time), std::move(admin)});
        }
    }
    const std::time_t now = m_now();
    const std::string today = ActivityHistory::DayOf(now);
    if (today != m_cleanedOn) {
        batch.removeBefore = ActivityHistory::DayBefore(now, m_keepDays - 1);
        ForgetBefore(MinuteOf(now) - MINUTES_PER_DAY);
    }
    Status status;
    if (m_store.Write(batch)) {
        if (!batch.removeBefore.empty())
            m_cleanedOn = today;
    } else {
        status.dropped = events.size();
    }
    status.paused = m_store.IsPaused();
    status.reason = m_store.GetReason();
    status.notice = m_store.GetNotice();
    return status;
}

void ActivityLog::Writer::AddUse(const Use& use, ActivityStore::Batch& batch, RowIndex& clientRows,
                                 RowIndex& siteRows) {
    const std::string& day = DayOf(use.time);
    const std::string& site = SiteOf(use.host);
    const std::int64_t minute = MinuteOf(use.time);
    const std::int64_t bytes = static_cast<std::int64_t>(use.bytes);
    const bool clientMinute = Counts(m_clientMinutes[use.client], minute);
    const bool siteMinute = Counts(m_siteMinutes[use.client + '\n' + site], minute);
    AddTotal(batch.clientDays, clientRows, {day, use.client, use.group, std::string(), clientMinute, bytes});
    AddTotal(batch.siteDays, siteRows, {day, use.client, use.group, site, siteMinute, bytes});
}

void ActivityLog::Writer::AddTotal(std::vector<ActivityStore::DayTotal>& totals, RowIndex& rows,
                                   ActivityStore::DayTotal total) {
    std::string key = total.day;
    for (const std::string* part : {&total.client, &total.group, &total.site})
        key.append(1, '\n').append(*part);
    const auto [row, added] = rows.emplace(std::move(key), totals.size());
    if (added) {
        totals.push_back(std::move(total));
    } else {
        totals[row->second].minutes += total.minutes;
        totals[row->second].bytes += total.bytes;
    }
}

bool ActivityLog::Writer::Counts(Counted& counted, std::int64_t minute) {
    if (counted[0] == minute || counted[1] == minute)
        return false;
    counted = {minute, counted[0]};
    return true;
}

void ActivityLog::Writer::ForgetBefore(std::int64_t minute) {
    for (auto* memory : {&m_clientMinutes, &m_siteMinutes})
        for (auto entry = memory->begin(); entry != memory->end();)
            entry = entry->second[0] < minute ? memory->erase(entry) : std::next(entry);
}

const std::string& ActivityLog::Writer::DayOf(std::time_t time) {
    // A local day begins on a whole minute in every time zone, so the events of a minute share their day.
    const std::int64_t minute = MinuteOf(time);
    if (m_day.empty() || minute != m_dayMinute) {
        m_day = ActivityHistory::DayOf(time);
        m_dayMinute = minute;
    }
    return m_day;
}

std::int64_t ActivityLog::Writer::MinuteOf(std::time_t time) {
    return time >= 0 ? time / 60 : (time - 59) / 60;
}

const std::string& ActivityLog::Writer::SiteOf(const std::string& host) {
    auto found = m_siteOfHost.find(host);
    if (found == m_siteOfHost.end()) {
        if (m_siteOfHost.size() >= REMEMBERED_HOSTS)
            m_siteOfHost.clear();
        found = m_siteOfHost.emplace(host, m_sites->SiteOf(host)).first;
    }
    return found->second;
}

ActivityLog::ActivityLog(Options options)
    : m_options(std::move(options)), m_writer(std::make_unique<Writer>(m_options)) {
    try {
        m_thread = std::thread(&ActivityLog::Run, this);
    } catch (const std::system_error& error) {
        m_stopping = true;
        m_status.paused = true;
        m_status.reason = std::string("the history's writer cannot start: ") + error.what();
    }
}

ActivityLog::~ActivityLog() {
    {
        const std::lock_guard<std::mutex> lock(m_queueMutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void ActivityLog::Record(Use use) {
    Push(std::move(use));
}
void ActivityLog::Record(Refusal refusal) {
    Push(std::move(refusal));
}
void ActivityLog::Record(AdminEvent event) {
    Push(std::move(event));
}

void ActivityLog::Push(Event event) {
    const std::lock_guard<std::mutex> lock(m_queueMutex);
    // A use of the same site by the same computer in the same minute as the last one queued only adds its
    // bytes to it: a page's burst of requests costs the writer one event.
    const Use* use = std::get_if<Use>(&event);
    Use* last = use != nullptr && !m_queue.empty() ? std::get_if<Use>(&m_queue.back()) : nullptr;
    if (last != nullptr && !m_stopping && last->time / 60 == use->time / 60 && last->host == use->host &&
        last->client == use->client && last->group == use->group) {
        last->bytes += use->bytes;
        return;
    }
    if (m_stopping || m_queue.size() >= m_options.queueLimit)
        ++m_status.dropped;
    else
        m_queue.push_back(std::move(event));
}

void ActivityLog::Flush() {
    std::unique_lock<std::mutex> lock(m_queueMutex);
    if (m_stopping)
        return;
    const std::uint64_t ticket = ++m_flushAsked;
    m_wake.notify_one();
    m_written.wait(lock, [this, ticket] { return m_flushDone >= ticket; });
}

ActivityLog::Status ActivityLog::GetStatus() const {
    const std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_status;
}

void ActivityLog::Run() {
    std::unique_lock<std::mutex> lock(m_queueMutex);
    // The first batch comes at once: it opens the database and removes the old days.
    auto due = std::chrono::steady_clock::now();
    while (true) {
        m_wake.wait_until(lock, due, [this] { return m_stopping || m_flushAsked != m_flushDone; });
        const auto now = std::chrono::steady_clock::now();
        if (now >= due)
            due = now + BATCH_PERIOD;
        std::vector<Event> events;
        events.swap(m_queue);
        const std::uint64_t asked = m_flushAsked;
        const bool stopping = m_stopping;
        lock.unlock();
        const Status written = m_writer->Write(std::move(events));
        lock.lock();
        m_status.paused = written.paused;
        m_status.reason = written.reason;
        m_status.notice = written.notice;
        m_status.dropped += written.dropped;
        m_flushDone = asked;
        m_written.notify_all();
        if (stopping)
            return;
    }
}

} // namespace tav
