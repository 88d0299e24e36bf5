#include <tav/proactor.hpp>

#include "epoll_proactor.hpp"

#include <ace/Proactor.h>

#include <memory>
#include <new>

namespace tav {

ACE_Proactor* make_proactor(unsigned threads) {
    std::unique_ptr<epoll_proactor> impl(new (std::nothrow) epoll_proactor);
    if (!impl || !impl->is_open())
        return nullptr;
    impl->number_of_threads(threads);
    auto* proactor = new (std::nothrow) ACE_Proactor(impl.get(), true);
    if (proactor != nullptr)
        impl.release();
    return proactor;
}

} // namespace tav
