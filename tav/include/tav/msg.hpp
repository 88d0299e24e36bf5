#pragma once

// Helpers for ACE message blocks, the unit of data of sockets, commands and logs.
//
// A chain of blocks is linked through each block's continuation (cont) and is owned by whoever
// holds its head pointer; ownership passes with the pointer and the owner ends it with
// release_msg. Only make_msg copies data. A chain is used by one thread at a time.

#include <tav/export.hpp>

#include <ace/Message_Block.h>

namespace tav {

// A new block holding a copy of size bytes from data, read pointer at the start and write
// pointer after them; an empty block (never null) when data is null or size is 0. Throws
// std::bad_alloc with the text "tav::make_msg()" when the storage cannot be had.
TAV_EXPORT ACE_Message_Block* make_msg(const char* data, unsigned size);

// Makes mb the head when head is null, otherwise links it after the last block of head's chain.
// The chain takes ownership of mb; nothing is copied.
TAV_EXPORT void append_msg(ACE_Message_Block*& head, ACE_Message_Block* mb);

// Releases the chain that mb heads, if any, and sets mb to null.
TAV_EXPORT void release_msg(ACE_Message_Block*& mb);

// Releases the block it holds, if any, when it goes out of scope. Not copyable: a copy would
// release the same block twice.
class msg_auto_release {
public:
    explicit msg_auto_release(ACE_Message_Block* mb = nullptr) : mb_(mb) {}
    ~msg_auto_release() { release_msg(mb_); }
    msg_auto_release(const msg_auto_release&) = delete;
    msg_auto_release& operator=(const msg_auto_release&) = delete;

    ACE_Message_Block* get() const { return mb_; }
    ACE_Message_Block* operator->() const { return mb_; }
    ACE_Message_Block& operator*() const { return *mb_; }

private:
    ACE_Message_Block* mb_;
};

} // namespace tav
