#pragma once

#include <quorrel/DataModel.hpp>

#include <memory>
#include <mutex>
#include <vector>

namespace tav {

// Where decisions take the current snapshot from. Each processor has a shelf of its own, which holds the
// snapshot through a reference count of its own: decisions running at once on different processors then
// write to different memory, where one shared pointer would have every decision of every thread increment
// the same count. Publishing puts the next snapshot on every shelf.
class DataModel::SnapshotShelf {
public:
    SnapshotShelf();
    SnapshotShelf(const SnapshotShelf&) = delete;
    SnapshotShelf& operator=(const SnapshotShelf&) = delete;

    std::shared_ptr<const Snapshot> Take() const;
    void Put(const std::shared_ptr<const Snapshot>& next);

private:
    // A cache line each, so that shelves in use at once share none.
    struct alignas(64) Shelf {
        mutable std::mutex mutex;
        std::shared_ptr<const Snapshot> held;
    };

    std::vector<Shelf> m_shelves;
};

} // namespace tav
