#include "SnapshotShelf.hpp"

#include "Snapshot.hpp"

#include <sched.h>

#include <algorithm>
#include <thread>

namespace tav {

DataModel::SnapshotShelf::SnapshotShelf() : m_shelves(std::max(1U, std::thread::hardware_concurrency())) {}

std::shared_ptr<const DataModel::Snapshot> DataModel::SnapshotShelf::Take() const {
    // The thread may move to another processor meanwhile: that costs speed, never the right answer.
    const int cpu = sched_getcpu();
    const Shelf& shelf = m_shelves[cpu < 0 ? 0 : static_cast<std::size_t>(cpu) % m_shelves.size()];
    const std::lock_guard<std::mutex> lock(shelf.mutex);
    return shelf.held;
}

void DataModel::SnapshotShelf::Put(const std::shared_ptr<const Snapshot>& next) {
    for (Shelf& shelf : m_shelves) {
        // The shelf's own count: a pointer that owns one more reference to the snapshot, aliased to it.
        const auto owner = std::make_shared<std::shared_ptr<const Snapshot>>(next);
        std::shared_ptr<const Snapshot> placed(owner, next.get());
        const std::lock_guard<std::mutex> lock(shelf.mutex);
        shelf.held.swap(placed);
    }
}

} // namespace tav
