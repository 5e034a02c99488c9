// The part the file and folder pages of the 1.5 generation share: the three attribute check
// boxes (hidden, read-only, system) and Apply, which renames the item and sets its attributes
// through the hub.
#pragma once
#include "ItemPageCore.h"

namespace devlink15 {

template <class Base> class AttributedPage15 : public Base {
  public:
    static constexpr int kHiddenBox = IDC_PAGE_HIDDEN;      // attribute bit 0
    static constexpr int kReadOnlyBox = IDC_PAGE_READ_ONLY; // attribute bit 2
    static constexpr int kSystemBox = IDC_PAGE_SYSTEM;      // attribute bit 3, never changed here

  protected:
    template <class... Args> explicit AttributedPage15(Args&&... args) : Base(std::forward<Args>(args)...) {}

    // Sets the boxes from `attr`. The read-only box is locked for items the device keeps
    // read-only (bit 6 without bit 2) and, when `systemLocksReadOnly`, for system items.
    void FillAttributeBoxes(long attr, bool systemLocksReadOnly);
    HRESULT ApplyChanges() override;
    void OnCommand(WORD id, WORD code) override;

    // What differs between the file and the folder page.
    virtual bool RestoresNameOfSystemItem() const = 0;
    virtual UINT AttributeFailureText() const = 0;
};

} // namespace devlink15
