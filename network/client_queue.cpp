#include "network/client_queue.h"

namespace tavrel::network {

void ClientQueue::Push(const Chunk& chunk, Clock::time_point now)
{
    const std::size_t size = chunk->size();
    if (size == 0) {
        return;
    }
    // The rest of the chunk being written is needed whole, so it is never dropped.
    const std::size_t beingWritten = writing_ ? chunks_.front()->size() - written_ : 0;
    if (size > bound_ - beingWritten) {
        Drop(size, now);
        return;
    }
    while (queued_ + size > bound_) {
        const auto oldest = writing_ ? chunks_.begin() + 1 : chunks_.begin();
        const std::size_t bytes = (*oldest)->size();
        chunks_.erase(oldest);
        queued_ -= bytes;
        Drop(bytes, now);
    }
    chunks_.push_back(chunk);
    queued_ += size;
}

std::span<const unsigned char> ClientQueue::Next()
{
    if (chunks_.empty()) {
        return {};
    }
    writing_ = true;
    const std::vector<unsigned char>& oldest = *chunks_.front();
    return std::span(oldest).subspan(written_);
}

void ClientQueue::Sent(std::size_t count)
{
    written_ += count;
    queued_ -= count;
    sent_ += count;
    if (written_ == chunks_.front()->size()) {
        chunks_.pop_front();
        written_ = 0;
        writing_ = false;
    }
    if (chunks_.empty()) {
        fullSince_.reset();
    }
}

void ClientQueue::Drop(std::size_t bytes, Clock::time_point now)
{
    dropped_ += bytes;
    if (!fullSince_) {
        fullSince_ = now;
    }
}

}  // namespace tavrel::network
