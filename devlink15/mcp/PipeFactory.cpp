#include "PipeFactory.h"

#include "McpLink.h"

#include <algorithm>

namespace devlink15 {

PipeRecord::PipeRecord(std::string name, XPipeFactory* factory, int number, std::unique_ptr<IInputPipe> input,
                       std::unique_ptr<IOutputPipe> output)
    : name_(std::move(name)), factory_(factory), number_(number), input_(std::move(input)),
      output_(std::move(output)) {}

bool PipeRecord::IsClosed() {
    return Input().IsClosed() || Output().IsClosed();
}

XPipeFactory::~XPipeFactory() {
    // Records still open are destroyed outside the lock: their halves tell the device.
    std::list<Node> remaining;
    {
        std::lock_guard lock(listMutex_);
        remaining.swap(pipes_);
    }
}

std::unique_ptr<PipeRecord> XPipeFactory::CreatePipeRecord(const std::string& name, int number) {
    return std::make_unique<PipeRecord>(name, this, number, nullptr, nullptr);
}

bool XPipeFactory::IsListedLocked(int number) const {
    return std::any_of(pipes_.begin(), pipes_.end(),
                       [number](const Node& node) { return node.record->Number() == number; });
}

PipeRecord* XPipeFactory::OpenPipe(const std::string& name, int number) {
    std::lock_guard lock(listMutex_);
    std::unique_ptr<PipeRecord> record = CreatePipeRecord(name, number);
    if (!record)
        return nullptr;
    pipes_.push_back(Node{std::move(record), 1});
    return pipes_.back().record.get();
}

PipeRecord* XPipeFactory::FindPipe(int number) {
    std::lock_guard lock(listMutex_);
    for (Node& node : pipes_) {
        if (node.record->Number() == number) {
            ++node.useCount;
            return node.record.get();
        }
    }
    return nullptr;
}

bool XPipeFactory::ClosePipe(PipeRecord* record) {
    std::unique_ptr<PipeRecord> doomed;
    {
        std::lock_guard lock(listMutex_);
        auto node = std::find_if(pipes_.begin(), pipes_.end(),
                                 [record](const Node& n) { return n.record.get() == record; });
        if (record == nullptr || node == pipes_.end())
            return false;
        if (--node->useCount > 0)
            return false;
        doomed = std::move(node->record);
        pipes_.erase(node);
    }
    return true; // `doomed` closes its channels here, outside the lock
}

size_t XPipeFactory::OpenPipeCount() const {
    std::lock_guard lock(listMutex_);
    return pipes_.size();
}

XMCPPipeFactory::~XMCPPipeFactory() = default;

std::unique_ptr<PipeRecord> XMCPPipeFactory::CreatePipeRecord(const std::string& name, int number) {
    return OpenPipePair(name, number);
}

std::unique_ptr<PipeRecord> XMCPPipeFactory::OpenPipePair(const std::string& name, int number) {
    if (number < kFirstPipe || number > kLastPipe || link_ == nullptr || IsListedLocked(number))
        return nullptr;
    XMCPDemux* demux = &link_->Demux();
    auto output = std::make_unique<XMCPOutputPipe>(demux, static_cast<uint8_t>(2 * number - 1));
    auto input = std::make_unique<XMCPInputPipe>(demux, static_cast<uint8_t>(2 * number));
    return std::make_unique<PipeRecord>(name, this, number, std::move(input), std::move(output));
}

} // namespace devlink15
