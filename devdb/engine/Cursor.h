// A cursor: the rows of a table it was opened with, as a list of record keys, and the count of its
// records not yet released.
#pragma once
#include "Table.h"
#include <atomic>
#include <memory>
#include <vector>

namespace tv::devdb {

class Connection;
class Record;

class Cursor : public std::enable_shared_from_this<Cursor> {
  public:
    Cursor(std::shared_ptr<Table> table, std::shared_ptr<Connection> connection, std::vector<uint32_t> keys);
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;
    ~Cursor();

    size_t RowCount() const { return keys_.size(); }
    std::shared_ptr<Record> GetAt(size_t index);
    // Fails for a row being edited or listed by another cursor.
    std::shared_ptr<Record> EditAt(size_t index);
    std::shared_ptr<Record> Add();
    // Removes the row from the cursor and the table; refused while it is being edited or another
    // cursor lists it.
    bool RemoveAt(size_t index);
    // The row of a key, -1 when the cursor does not list it.
    long IndexOfKey(uint32_t key) const;
    RecordFormat Format() const { return table_->Format(); }
    bool Lists(uint32_t key) const;

    // Fails while records are out.
    bool Close();
    bool Closed() const { return closed_; }
    void RecordReleased();
    // Closes now, or as soon as the last record out is released.
    void CloseWhenIdle();
    const std::shared_ptr<Table>& TableOf() const { return table_; }

  private:
    std::shared_ptr<Record> OpenRow(size_t index, bool editable);

    std::shared_ptr<Table> table_;
    std::shared_ptr<Connection> connection_;
    std::vector<uint32_t> keys_;
    std::atomic<long> outstanding_{0};
    bool closed_ = false;
    bool closeWhenIdle_ = false;
};

} // namespace tv::devdb
