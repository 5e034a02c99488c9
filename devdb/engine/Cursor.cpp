#include "Cursor.h"
#include "Connection.h"
#include "Record.h"
#include <algorithm>

namespace tv::devdb {

Cursor::Cursor(std::shared_ptr<Table> table, std::shared_ptr<Connection> connection,
               std::vector<uint32_t> keys)
    : table_(std::move(table)), connection_(std::move(connection)), keys_(std::move(keys)) {
    table_->AddCursor(this);
}

Cursor::~Cursor() {
    if (!closed_)
        table_->RemoveCursor(this);
}

bool Cursor::Lists(uint32_t key) const {
    return std::find(keys_.begin(), keys_.end(), key) != keys_.end();
}

long Cursor::IndexOfKey(uint32_t key) const {
    auto it = std::find(keys_.begin(), keys_.end(), key);
    return it == keys_.end() ? -1 : static_cast<long>(it - keys_.begin());
}

std::shared_ptr<Record> Cursor::OpenRow(size_t index, bool editable) {
    if (closed_ || index >= keys_.size())
        return nullptr;
    const uint32_t key = keys_[index];
    if (editable && (table_->ListedByOtherCursor(key, this) || !table_->BeginEditing(key)))
        return nullptr;
    SlotRecord content;
    uint64_t generation = 0;
    if (!table_->ReadRecord(key, content, generation)) {
        if (editable)
            table_->EndEditing(key);
        return nullptr;
    }
    ++outstanding_;
    return std::make_shared<Record>(table_, shared_from_this(), key, std::move(content), generation,
                                    editable);
}

std::shared_ptr<Record> Cursor::GetAt(size_t index) {
    return OpenRow(index, false);
}

std::shared_ptr<Record> Cursor::EditAt(size_t index) {
    return OpenRow(index, true);
}

std::shared_ptr<Record> Cursor::Add() {
    if (closed_)
        return nullptr;
    ++outstanding_;
    return std::make_shared<Record>(table_, shared_from_this(), 0, SlotRecord{}, table_->Generation(), true);
}

bool Cursor::RemoveAt(size_t index) {
    if (closed_ || index >= keys_.size())
        return false;
    const uint32_t key = keys_[index];
    if (table_->IsEditing(key) || table_->ListedByOtherCursor(key, this))
        return false;
    bool removed = false;
    const bool done = table_->Remove(key, removed);
    // A row gone from the table leaves the cursor, even when the flush after it failed.
    if (removed)
        keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(index));
    return done;
}

void Cursor::RecordReleased() {
    if (--outstanding_ == 0 && closeWhenIdle_)
        Close();
}

void Cursor::CloseWhenIdle() {
    if (!closed_ && !Close())
        closeWhenIdle_ = true;
}

bool Cursor::Close() {
    if (closed_ || outstanding_ > 0)
        return false;
    closed_ = true;
    table_->RemoveCursor(this);
    connection_->CursorClosed();
    return true;
}

} // namespace tv::devdb
