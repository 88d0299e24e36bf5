#include <quorrel/DataModel.hpp>

namespace tav {

Base::~Base() = default;

Ret DataModel::Base::Problems(const std::vector<std::string>& problems) {
    return Ret(problems.empty() ? Ret::OK : Ret::ERR, problems);
}

Ret DataModel::Base::Problem(const std::string& problem) {
    return Ret(problem.empty() ? Ret::OK : Ret::ERR, problem);
}

} // namespace tav
