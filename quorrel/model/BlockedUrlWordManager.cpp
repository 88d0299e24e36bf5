#include <quorrel/DataModel.hpp>

namespace tav {

DataModel::BlockedUrlWordManager::~BlockedUrlWordManager() = default;

} // namespace tav
