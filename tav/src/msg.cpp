#include <tav/msg.hpp>

#include <new>

namespace tav {
namespace {

class make_msg_failure : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "tav::make_msg()"; }
};

} // namespace

ACE_Message_Block* make_msg(const char* data, unsigned size) {
    auto* mb = new ACE_Message_Block;
    if (data == nullptr || size == 0) {
        return mb;
    }
    if (mb->init(size, ACE_Message_Block::MB_DATA, nullptr, nullptr, nullptr, nullptr, 0,
                 ACE_Time_Value::zero, ACE_Time_Value::max_time) == -1) {
        mb->release();
        throw make_msg_failure();
    }
    mb->copy(data, size);
    return mb;
}

void append_msg(ACE_Message_Block*& head, ACE_Message_Block* mb) {
    if (head == nullptr) {
        head = mb;
        return;
    }
    ACE_Message_Block* last = head;
    while (last->cont() != nullptr) {
        last = last->cont();
    }
    last->cont(mb);
}

void release_msg(ACE_Message_Block*& mb) {
    if (mb != nullptr) {
        mb->release();
        mb = nullptr;
    }
}

} // namespace tav
